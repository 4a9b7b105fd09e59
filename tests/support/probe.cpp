// Runs one of the programs' shared operations as a program of its own and prints what it gives,
// so that integration tests drive the real code from a scratch folder (the operations work
// relative to the executable's folder) against the real update host and real processes:
//   zivra_probe buffer URL        the text DownloadToBuffer leaves in a fresh buffer
//   zivra_probe published         GetPublishedVersion()
//   zivra_probe archive           GetArchiveName()
//   zivra_probe find NAME         FindProcessId(NAME)
//   zivra_probe terminate NAME    TerminateByName(NAME), then FindProcessId(NAME)
//   zivra_probe open FILE [PARAM] OpenFromFolder(FILE, PARAM): 1 when started, else 0
#include <cstdio>
#include <string>

#include "common/version.h"
#include "tool/process_control.h"

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  const std::string arg = argc > 2 ? argv[2] : "";
  std::string text;
  if (what == "buffer" && argc > 2) {
    zivra::DownloadBuffer buffer{};
    zivra::DownloadToBuffer(arg.c_str(), buffer);
    text = buffer.data();
  } else if (what == "published") {
    text = zivra::GetPublishedVersion();
  } else if (what == "archive") {
    text = zivra::GetArchiveName();
  } else if (what == "find" && argc > 2) {
    text = std::to_string(zivra::tool::FindProcessId(arg));
  } else if (what == "terminate" && argc > 2) {
    zivra::tool::TerminateByName(arg);
    text = std::to_string(zivra::tool::FindProcessId(arg));
  } else if (what == "open" && argc > 2) {
    text = zivra::tool::OpenFromFolder(arg, argc > 3 ? argv[3] : "") ? "1" : "0";
  } else {
    std::fprintf(stderr, "usage: zivra_probe buffer URL | published | archive | find NAME | terminate NAME | "
                         "open FILE [PARAM]\n");
    return 2;
  }
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}
