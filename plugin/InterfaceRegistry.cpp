#include "plugin/InterfaceRegistry.h"

#include "platform/Export.h"

VERSEWELL_INIT_SECOND CInterfaceRegistry g_InterfaceRegistry;

CInterfaceRegistry::CInterfaceRegistry() : m_pDeleting(nullptr) {}

CInterfaceRegistry::~CInterfaceRegistry() { DeleteAll(); }

void CInterfaceRegistry::Add(CLyricsDllInterface* p) {
  CSingleLock lock(m_cs);
  m_arrInterfaces.SetAtGrow(m_arrInterfaces.GetSize(), p);
}

void CInterfaceRegistry::Remove(CLyricsDllInterface* p) {
  if (p == m_pDeleting) return;
  CSingleLock lock(m_cs);
  for (int i = 0; i < m_arrInterfaces.GetSize(); ++i) {
    if (m_arrInterfaces[i] == p) {
      m_arrInterfaces.RemoveAt(i);
      m_arrInterfaces.FreeExtra();
      break;
    }
  }
}

void CInterfaceRegistry::DeleteAll() {
  CSingleLock lock(m_cs);
  while (!m_arrInterfaces.IsEmpty()) {
    CLyricsDllInterface* p = m_arrInterfaces[0];
    m_pDeleting = p;
    delete p;  // its Remove() returns at once: p == m_pDeleting
    m_pDeleting = nullptr;
    m_arrInterfaces.RemoveAt(0);
    m_arrInterfaces.FreeExtra();
  }
}

int CInterfaceRegistry::GetCount() {
  CSingleLock lock(m_cs);
  return m_arrInterfaces.GetSize();
}

CLyricsDllInterface* CInterfaceRegistry::GetAt(int index) {
  CSingleLock lock(m_cs);
  return m_arrInterfaces[index];
}
