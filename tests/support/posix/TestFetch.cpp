// posix backend of support/TestFetch.h: libcurl and a BSD socket.
#include "support/TestFetch.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

namespace {

size_t Append(char* data, size_t size, size_t n, void* user) {
  static_cast<std::string*>(user)->append(data, size * n);
  return size * n;
}

}  // namespace

SFetched FetchUrl(const std::string& url, const std::string& proxy, const std::string& caFile) {
  SFetched f;
  CURL* h = curl_easy_init();
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_PROXY, proxy.c_str());
  if (url.compare(0, 6, "https:") == 0) curl_easy_setopt(h, CURLOPT_CAINFO, caFile.c_str());
  // An empty list overrides NO_PROXY / no_proxy from the environment, so
  // "NO_PROXY=*" cannot send the request past the loopback server.
  curl_easy_setopt(h, CURLOPT_NOPROXY, "");
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_TIMEOUT, 20L);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, Append);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &f.strBody);
  f.bOk = curl_easy_perform(h) == CURLE_OK;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &f.nStatus);
  if (f.nStatus == 0) curl_easy_getinfo(h, CURLINFO_HTTP_CONNECTCODE, &f.nStatus);
  curl_easy_cleanup(h);
  return f;
}

bool LoopbackPortAccepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return false;
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}
