#include "plugin/Versewell.h"

#include "plugin/InterfaceRegistry.h"
#include "plugin/SiteHost.h"

CVersewell::CVersewell() {
  m_strVersion = L"2.1.2000.0";
  m_strSourceName = L"Versewell";
  m_nCodePage = 65001;
  m_strSiteHost = VERSEWELL_SITE_HOST_W;
}

CVersewell::~CVersewell() { g_InterfaceRegistry.Remove(this); }
