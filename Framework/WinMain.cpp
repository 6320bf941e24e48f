// The program entry of a framework application: runs the statically constructed application object.
#include "WinApp.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    CWinApp* pApp = AfxGetApp();
    if (!pApp)
        return -1;
    pApp->InitApplication(hInstance);
    if (!pApp->InitInstance())
        return pApp->ExitInstance();
    return pApp->Run();
}
