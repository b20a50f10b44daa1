// The TLS side of the test wiki: a server context made from a certificate
// chain and its key (PEM files), used for connections that begin with a TLS
// handshake and for tunnels opened with "CONNECT host:port".
//
// Ownership: the context owns its OpenSSL context; a connection owns the
// session it gets from NewSession. Failure: Load reports why it failed in
// `error`. Threads: after Load, any thread may call NewSession.
#ifndef VERSEWELL_WIKI_TLS_CONTEXT_H
#define VERSEWELL_WIKI_TLS_CONTEXT_H

#include <string>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace wiki {

class CTlsContext {
 public:
  CTlsContext() = default;
  ~CTlsContext();
  CTlsContext(const CTlsContext&) = delete;
  CTlsContext& operator=(const CTlsContext&) = delete;

  // Loads the certificate chain and the private key; false with `error` set
  // when either cannot be read or they do not belong together.
  bool Load(const std::string& certFile, const std::string& keyFile, std::string& error);
  // A new server session on the socket `fd`, or null.
  SSL* NewSession(int fd) const;

 private:
  SSL_CTX* m_pContext = nullptr;
};

}  // namespace wiki

#endif  // VERSEWELL_WIKI_TLS_CONTEXT_H
