// PLACEHOLDER until the log merge and the module fingerprint land.
#include "diag/ModuleFingerprint.h"
#include "diag/TraceLog.h"

void CTraceLog::CloseAndMerge() { Close(); }
CString MakeModuleFingerprint() { return CString(); }
CString GetFileMD5(const CString&) { return CString(); }
