// zivraUpdate: installs a newer published release into its own folder and starts the tool again.
#include <string>

#include "common/version.h"
#include "platform/download.h"
#include "platform/exe_folder.h"
#include "platform/message_box.h"
#include "tool/process_control.h"
#include "update/update_flow.h"

namespace {

class RealEnvironment : public zivra::update::UpdateEnvironment {
 public:
  std::string PublishedText() override { return zivra::FetchPublishedText(); }

  bool DownloadArchive(const std::string& url, const std::string& path) override {
    zivra::platform::DownloadOptions options;
    options.caFile = zivra::UpdateCaFile();
    options.connectTimeout = std::chrono::seconds(15);
    options.totalTimeout = std::chrono::seconds(30 * 60);
    options.maxBytes = std::size_t{512} << 20;
    return zivra::platform::DownloadFile(url, path, options);
  }

  bool StopTool() override {
    const zivra::tool::ProcessId id = zivra::tool::FindProcessId(zivra::tool::kToolExe);
    zivra::tool::TerminateProcessId(id);
    return id != 0;
  }

  void StartTool() override { zivra::tool::OpenFromFolder(zivra::tool::kToolExe); }

  void Show(std::string_view text) override { zivra::platform::ShowMessageBox(text); }
};

}  // namespace

int main() {
  const std::string folder = zivra::platform::ExecutableFolder();
  RealEnvironment environment;
  return zivra::update::RunUpdate(folder, environment);
}
