// The program's entry on Windows: the framework runs the application object, theApp.

#include "framework/win32/windows_api.h"

#include "framework/framework.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return AfxWinMain();
}
