// A stand-in for a product's running program: copied under the product's executable names
// (acad.exe, SLDWORKS.exe, oracle.exe ...) and started by the seeder, it waits until it is
// ended. A GUI-subsystem program, so that no console is created for it.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    Sleep(INFINITE);
    return 0;
}
