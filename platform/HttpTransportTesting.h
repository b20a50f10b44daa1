// Test-only knobs of the HTTP transport: trust one more certificate
// authority, so that tests can talk HTTPS to a loopback server whose
// certificate they made themselves; and tell the transport's stop polls
// from other stop queries.
//
// Only tests include this header; the plug-in never calls it, and no
// property, host value or command-line option reaches it. It never turns
// verification off: certificates and host names are still checked, against
// the system's CA store plus the one extra authority.
// Threads: TrustExtraCaFileForTesting is for set-up, before any transfer
// starts (a transfer uses the setting of the moment it starts);
// IsStopQueryBeingAskedForTesting answers for the calling thread.
#ifndef VERSEWELL_PLATFORM_HTTP_TRANSPORT_TESTING_H
#define VERSEWELL_PLATFORM_HTTP_TRANSPORT_TESTING_H

#include <string>

namespace platform {

// Trusts the CA certificate(s) in the PEM file `pemFile` in addition to the
// system's store; an empty path goes back to the system's store alone. A
// file that cannot be read makes every HTTPS transfer fail with
// ERROR_WINHTTP_SECURE_FAILURE.
void TrustExtraCaFileForTesting(const std::wstring& pemFile);

// True while the transport, on the calling thread, is asking that thread's
// stop query (platform/HttpTransport.h). Lets a test host tell the polls of
// a waiting transfer from the queries a search makes itself.
bool IsStopQueryBeingAskedForTesting();

}  // namespace platform

#endif  // VERSEWELL_PLATFORM_HTTP_TRANSPORT_TESTING_H
