#include "app/driver/demo.h"
#include "platform/control.h"

int main() {
    int code = WinMain(GetModuleHandleA(nullptr), nullptr, const_cast<char*>(""), SW_SHOWDEFAULT);
    platform::shutdown();
    return code;
}
