// Blankora's erase of one served drive through the library's C interface, as
// the wizard calls it: CdRomN by name, then BLANK fast or full. Prints the
// library's answer and the seconds it took; exits 0 only when it erased.
//   served_erase <N> fast|full
#include "library/StarBurn.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 3 || (std::strcmp(argv[2], "fast") != 0 && std::strcmp(argv[2], "full") != 0)) {
        std::fprintf(stderr, "usage: %s <N of /dev/srN> fast|full\n", argv[0]);
        return 2;
    }
    if (StarBurn_UpStartEx() != EN_SUCCESS) {
        std::printf("served_erase: the library did not start\n");
        return 1;
    }
    const std::string name = std::string("CdRom") + argv[1];
    char text[STARBURN_EXCEPTION_TEXT_SIZE] = {};
    uint32_t status = 0;
    CDB_FAILURE_INFORMATION failure{};
    void *handle = nullptr;
    EXCEPTION_NUMBER code = StarBurn_CdvdBurnerGrabber_CreateEx(
        &handle, text, sizeof text, &status, &failure, nullptr, nullptr, name.c_str(), 1);
    if (code != EN_SUCCESS) {
        std::printf("served_erase: %s: open failed (%d): %s\n", name.c_str(), code, text);
        StarBurn_DownShut();
        return 1;
    }
    const ERASE_TYPE erase =
        std::strcmp(argv[2], "fast") == 0 ? ERASE_TYPE_BLANK_DISC_FAST : ERASE_TYPE_BLANK_DISC_FULL;
    const auto start = std::chrono::steady_clock::now();
    code = StarBurn_CdvdBurnerGrabber_Blank(handle, text, sizeof text, &status, &failure, erase);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (code == EN_SUCCESS)
        std::printf("served_erase: %s %s erase: erased in %.2f s\n", name.c_str(), argv[2],
                    seconds);
    else
        std::printf("served_erase: %s %s erase: failed (%d, status 0x%06X) after %.2f s: %s\n",
                    name.c_str(), argv[2], code, status, seconds, text);
    StarBurn_Destroy(&handle);
    StarBurn_DownShut();
    return code == EN_SUCCESS ? 0 : 1;
}
