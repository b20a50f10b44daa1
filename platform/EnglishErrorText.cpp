// The English error text table (platform/EnglishErrorText.h).
#include "platform/EnglishErrorText.h"

namespace platform {
namespace {

struct ErrorText {
  DWORD code;
  const wchar_t* text;
};

const ErrorText kErrorTexts[] = {
    {0, L"The operation completed successfully.\r\n"},
    {2, L"The system cannot find the file specified.\r\n"},
    {3, L"The system cannot find the path specified.\r\n"},
    {5, L"Access is denied.\r\n"},
    {6, L"The handle is invalid.\r\n"},
    {8, L"Not enough memory resources are available to process this command.\r\n"},
    {14, L"Not enough memory resources are available to complete this operation.\r\n"},
    {29, L"The system cannot write to the specified device.\r\n"},
    {30, L"The system cannot read from the specified device.\r\n"},
    {32, L"The process cannot access the file because it is being used by another process.\r\n"},
    {38, L"Reached the end of the file.\r\n"},
    {80, L"The file exists.\r\n"},
    {87, L"The parameter is incorrect.\r\n"},
    {112, L"There is not enough space on the disk.\r\n"},
    {122, L"The data area passed to a system call is too small.\r\n"},
    {123, L"The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {183, L"Cannot create a file when that file already exists.\r\n"},
    {206, L"The filename or extension is too long.\r\n"},
    {1113, L"No mapping for the Unicode character exists in the target multi-byte code page.\r\n"},
    // WinHTTP
    {12001, L"No more handles could be generated at this time.\r\n"},
    {12002, L"The operation timed out\r\n"},
    {12004, L"An internal error occurred in the Microsoft Internet extensions.\r\n"},
    {12005, L"The URL is invalid.\r\n"},
    {12006, L"The URL does not use a recognized protocol\r\n"},
    {12007, L"The server name or address could not be resolved\r\n"},
    {12009, L"A request to InternetQueryOption or InternetSetOption specified an invalid option value.\r\n"},
    {12017, L"The operation was canceled, usually because the handle on which the request was operating was closed before the operation completed.\r\n"},
    {12018, L"The type of handle supplied is incorrect for this operation.\r\n"},
    {12019, L"The requested operation cannot be carried out because the handle supplied is not in the correct state.\r\n"},
    {12029, L"A connection with the server could not be established\r\n"},
    {12030, L"The connection with the server was terminated abnormally\r\n"},
    {12150, L"The requested header could not be located.\r\n"},
    {12152, L"The server returned an invalid or unrecognized response\r\n"},
    {12153, L"The supplied header is invalid.\r\n"},
    {12156, L"The HTTP redirect request failed.\r\n"},
    {12175, L"A security error occurred\r\n"},
    {12178, L"The proxy server requires authentication.\r\n"},
    {12184, L"The connection with the server was reset.\r\n"},
};

}  // namespace

const wchar_t* EnglishErrorText(DWORD code) {
  for (const ErrorText& e : kErrorTexts)
    if (e.code == code) return e.text;
  return nullptr;
}

}  // namespace platform
