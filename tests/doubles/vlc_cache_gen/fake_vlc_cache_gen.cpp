// Takes the place of VLC's vlc-cache-gen.exe in the installer's tests. It writes no cache: it
// appends one line to plugins.dat in the folder it is given, naming itself, the folder it was
// started in and that argument, so a test can tell whose tool ran, how often and on what. With a
// file vlc-cache-gen.fail beside it, it fails as a broken tool would: exit code 3, nothing written.
#include <windows.h>

#include <fstream>
#include <string>

namespace {

std::string OwnPath() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return path;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  const std::string self = OwnPath();
  const std::string failMarker = self.substr(0, self.rfind('\\') + 1) + "vlc-cache-gen.fail";
  if (GetFileAttributesA(failMarker.c_str()) != INVALID_FILE_ATTRIBUTES) return 3;
  char current[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, current);
  std::ofstream cache(std::string(argv[1]) + "\\plugins.dat", std::ios::app);
  cache << self << '|' << current << '|' << argv[1] << '\n';
  return cache.good() ? 0 : 1;
}
