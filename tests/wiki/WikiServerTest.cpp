// The loopback test wiki: content pages, generated category pages with their
// paging links, path safety, and the helper's start and stop.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "support/TestCertificates.h"
#include "support/TestFetch.h"
#include "support/WikiServer.h"

namespace {

struct Fetched {
  long status = 0;
  std::string body;
  bool ok = false;
};

// Fetches `url` through the server as a proxy, like the plug-in does (or
// directly, with `direct`), trusting the test authority for https.
Fetched FetchVia(const CWikiServer& server, const std::string& url, bool direct = false) {
  const std::string ca = url.compare(0, 6, "https:") == 0 ? STestCertificates::Get().strCaFile : std::string();
  SFetched f = FetchUrl(url, direct ? std::string() : server.Proxy(), ca);
  Fetched result;
  result.status = f.nStatus;
  result.body = f.strBody;
  result.ok = f.bOk;
  return result;
}

bool Accepts(int port) { return LoopbackPortAccepts(port); }

class WikiServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(std::filesystem::u8path(dir.File("wiki")));
    std::filesystem::create_directory(std::filesystem::u8path(dir.File("categories")));
    WriteFileBytes(dir.File("wiki/Quillfeather.html"), "<html>artist page</html>");
    WriteFileBytes(dir.File("wiki/Quillfeather:Salt Road.html"), "<html>song page</html>");
    WriteFileBytes(dir.File("secret.html"), "secret");
    // 450 artists B000 .. B449, in index order.
    std::string tsv;
    for (int i = 0; i < 450; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "B%03d", i);
      tsv += std::string("/wiki/") + name + "\t" + name + "\t" + name + "\n";
    }
    WriteFileBytes(dir.File("categories/Artists_B.tsv"), tsv);
  }
  CTempDir dir;
};

int CountEntries(const std::string& html) {
  int n = 0;
  for (size_t p = 0; (p = html.find("<li><a href=", p)) != std::string::npos; ++p) ++n;
  return n;
}

std::string PreviousLink(const std::string& html) {
  size_t end = html.find("\">previous 200</a>");
  if (end == std::string::npos) return std::string();
  size_t start = html.rfind("<a href=\"", end);
  std::string link = html.substr(start + 9, html.find('"', start + 9) - start - 9);
  for (size_t p; (p = link.find("&amp;")) != std::string::npos;) link.replace(p, 5, "&");
  return link;
}

TEST_F(WikiServerTest, ServesArticlesThroughTheProxyPathAndRefusesEscapes) {
  CWikiServer server(dir.Path());
  Fetched page = FetchVia(server, "http://lyrics.wiki.example/wiki/Quillfeather");
  EXPECT_EQ(200, page.status);
  EXPECT_EQ("<html>artist page</html>", page.body);
  Fetched song = FetchVia(server, "http://lyrics.wiki.example/wiki/Quillfeather:Salt%20Road");
  EXPECT_EQ("<html>song page</html>", song.body);
  EXPECT_EQ(404, FetchVia(server, "http://lyrics.wiki.example/wiki/Nobody").status);
  EXPECT_EQ(404, FetchVia(server, "http://lyrics.wiki.example/wiki/..%2Fsecret").status);
  EXPECT_EQ(404, FetchVia(server, "http://lyrics.wiki.example/wiki/%2E%2E/secret").status);
}

TEST_F(WikiServerTest, CategoryPagesListTwoHundredFromTheNameWithPreviousLink) {
  CWikiServer server(dir.Path());
  Fetched page = FetchVia(server, "http://lyrics.wiki.example/index.php?title=Category:Artists_B&from=b300");
  ASSERT_EQ(200, page.status);
  EXPECT_EQ(150, CountEntries(page.body));
  EXPECT_NE(std::string::npos, page.body.find("<li><a href=\"/wiki/B300\" title=\"B300\">B300</a></li>"));
  std::string previous = PreviousLink(page.body);
  EXPECT_EQ("/index.php?title=Category:Artists_B&until=B300", previous);

  Fetched before = FetchVia(server, "http://lyrics.wiki.example" + previous);
  EXPECT_EQ(200, CountEntries(before.body));
  EXPECT_NE(std::string::npos, before.body.find("title=\"B100\""));
  EXPECT_NE(std::string::npos, before.body.find("title=\"B299\""));
  EXPECT_EQ(std::string::npos, before.body.find("title=\"B099\""));
  EXPECT_EQ("/index.php?title=Category:Artists_B&until=B100", PreviousLink(before.body));

  Fetched first = FetchVia(server, "http://lyrics.wiki.example/index.php?title=Category:Artists_B&from=A");
  EXPECT_EQ(200, CountEntries(first.body));
  EXPECT_EQ("", PreviousLink(first.body));
  EXPECT_NE(std::string::npos, first.body.find("next 200</a>"));

  Fetched missing = FetchVia(server, "http://lyrics.wiki.example/index.php?title=Category:Artists_Z&from=Zed");
  EXPECT_EQ(200, missing.status);
  EXPECT_EQ(0, CountEntries(missing.body));
}

TEST_F(WikiServerTest, HelperStartsOnDistinctPortsAndStopsTheServer) {
  int port;
  {
    CWikiServer a(dir.Path());
    CWikiServer b;
    EXPECT_NE(a.Port(), b.Port());
    EXPECT_TRUE(Accepts(a.Port()));
    port = a.Port();
    EXPECT_EQ(200, FetchVia(b, "http://x/_test/empty").status);
  }
  EXPECT_FALSE(Accepts(port));
}

TEST_F(WikiServerTest, BadServerModesFrameBodiesAsAnnounced) {
  CWikiServer server;
  Fetched chunked = FetchVia(server, "http://x/_test/body?size=1000&mode=chunked&chunk=7");
  EXPECT_TRUE(chunked.ok);
  EXPECT_EQ(1000u, chunked.body.size());
  EXPECT_EQ("abc", chunked.body.substr(0, 3));
  EXPECT_EQ('a' + 999 % 26, chunked.body[999]);
  Fetched dropped = FetchVia(server, "http://x/_test/drop?size=1000&sent=10");
  EXPECT_FALSE(dropped.ok);
  EXPECT_EQ(10u, dropped.body.size());
  EXPECT_EQ(404, FetchVia(server, "http://x/_test/status/404").status);
  EXPECT_EQ(std::string("before\0after", 12), FetchVia(server, "http://x/_test/nul").body);
}

TEST_F(WikiServerTest, HttpsIsServedInPlaceWithACertificateOnly) {
  CWikiServer plain(dir.Path());
  Fetched refused = FetchVia(plain, "https://lyrics.wiki.example/wiki/Quillfeather");
  EXPECT_FALSE(refused.ok);
  EXPECT_EQ(400, refused.status);  // CONNECT without a certificate, as before
  EXPECT_FALSE(FetchVia(plain, "https://127.0.0.1:" + std::to_string(plain.Port()) + "/_test/empty", true).ok);
  EXPECT_EQ(200, FetchVia(plain, "http://lyrics.wiki.example/_test/empty").status);

  SWikiServerOptions options;
  options.root = dir.Path();
  options.tlsCert = STestCertificates::Get().strServerCert;
  options.tlsKey = STestCertificates::Get().strServerKey;
  CWikiServer secure(options);
  Fetched tunnelled = FetchVia(secure, "https://lyrics.wiki.example/wiki/Quillfeather");
  EXPECT_TRUE(tunnelled.ok);
  EXPECT_EQ("<html>artist page</html>", tunnelled.body);
  Fetched direct = FetchVia(secure, "https://127.0.0.1:" + std::to_string(secure.Port()) + "/wiki/Quillfeather", true);
  EXPECT_TRUE(direct.ok);
  EXPECT_EQ("<html>artist page</html>", direct.body);
  EXPECT_EQ(200, FetchVia(secure, "http://lyrics.wiki.example/_test/empty").status);  // plain HTTP stays
  EXPECT_EQ((std::vector<std::string>{"CONNECT lyrics.wiki.example:443", "GET /wiki/Quillfeather (tls)",
                                      "GET /wiki/Quillfeather (tls)", "GET http://lyrics.wiki.example/_test/empty"}),
            secure.Requests());
}

}  // namespace
