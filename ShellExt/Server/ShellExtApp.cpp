#include "ShellExtApp.h"
#include "ClassTable.h"
#include "ShellExtModule.h"

CShellExtApp theApp;

BOOL CShellExtApp::InitInstance()
{
    g_ShellExtModule.SetAutoClassTable(AutoClassTableBegin(), AutoClassTableEnd());
    if (FAILED(g_ShellExtModule.Init(g_ClassEntries, m_hInstance, &LIBID_ShellExtLib)))
        return FALSE;
    return CWinApp::InitInstance();
}

int CShellExtApp::ExitInstance()
{
    g_ShellExtModule.Term();
    return CWinApp::ExitInstance();
}
