// keyecho [raw|assert]: a helper of the terminal tests. It starts up, opens
// window mode on its terminal, writes "R" to descriptor 3 when ready, then
// the code of every key it reads (one per line) until 'q', and leaves
// window mode. After the key 's' it also writes "S rows cols", the size of
// the whole-screen window. With "raw", Ctrl-C and Ctrl-Z are keys; with "assert", a
// failed assertion ends it while in window mode.
#include <zeph/Wi.h>

#include <zfound/Assert.h>
#include <zfound/Process.h>

#include <unistd.h>

#include <cstring>
#include <string>

int main(int argc, char** argv) {
  startUp(String("keyecho"), argc, argv);
  char const* mode = argc > 1 ? argv[1] : "";
  WiConnect(nullptr, nullptr, 0);
  if (std::strcmp(mode, "raw") == 0) WiSetRaw(1);
  (void)!::write(3, "R", 1);
  if (std::strcmp(mode, "assert") == 0) _assert("keyecho in window mode", __FILE__, __LINE__);
  for (;;) {
    int k = WiGetc();
    std::string line = std::to_string(k) + "\n";
    if (k == 's') line += "S " + std::to_string(WiHeight(0)) + " " + std::to_string(WiWidth(0)) + "\n";
    (void)!::write(3, line.data(), line.size());
    if (k == 'q') break;
  }
  WiDisconnect();
  stop(0);
}
