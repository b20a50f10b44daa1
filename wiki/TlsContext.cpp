#include "wiki/TlsContext.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace wiki {
namespace {

std::string LastSslError() {
  unsigned long e = ERR_get_error();
  if (e == 0) return "unknown TLS error";
  char text[256];
  ERR_error_string_n(e, text, sizeof text);
  return text;
}

}  // namespace

CTlsContext::~CTlsContext() {
  if (m_pContext != nullptr) SSL_CTX_free(m_pContext);
}

bool CTlsContext::Load(const std::string& certFile, const std::string& keyFile, std::string& error) {
  m_pContext = SSL_CTX_new(TLS_server_method());
  if (m_pContext == nullptr) {
    error = LastSslError();
    return false;
  }
  SSL_CTX_set_min_proto_version(m_pContext, TLS1_2_VERSION);
  if (SSL_CTX_use_certificate_chain_file(m_pContext, certFile.c_str()) != 1) {
    error = certFile + ": " + LastSslError();
    return false;
  }
  if (SSL_CTX_use_PrivateKey_file(m_pContext, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(m_pContext) != 1) {
    error = keyFile + ": " + LastSslError();
    return false;
  }
  return true;
}

SSL* CTlsContext::NewSession(int fd) const {
  if (m_pContext == nullptr) return nullptr;
  SSL* ssl = SSL_new(m_pContext);
  if (ssl != nullptr && SSL_set_fd(ssl, fd) != 1) {
    SSL_free(ssl);
    return nullptr;
  }
  return ssl;
}

}  // namespace wiki
