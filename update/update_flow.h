#pragma once
#include <string>
#include <string_view>

#include "update/install.h"

namespace zivra::update {

// The local name of the downloaded archive, whatever its name on the update host.
inline constexpr std::string_view kArchiveName = "zivraBrowserTool.zip";

// What an update run needs from outside the installation folder. The program wires the real
// update host, process control and message box; tests pass fakes.
class UpdateEnvironment {
 public:
  virtual ~UpdateEnvironment() = default;
  // The published version file's text (fetched anew on every call), empty when unreachable.
  virtual std::string PublishedText() = 0;
  // Downloads `url` to the file `path`; false (and no file) on any failure.
  virtual bool DownloadArchive(const std::string& url, const std::string& path) = 0;
  // Stops the running tool, if any, and returns once it has ended. True when one was running.
  virtual bool StopTool() = 0;
  virtual void StartTool() = 0;
  // A message box; returns when the user has closed it.
  virtual void Show(std::string_view text) = 0;
};

// One run of the updater over the installation folder `folder` (with its trailing '/'). Returns
// the exit code: 0 when no newer version is published or the update is complete, 1 when it
// failed, in which case the folder is as it was before.
//
// A newer release is fetched, checked and unpacked into a staging folder beside the installed
// files before the tool is stopped or any file touched. Only then the tool is stopped, its
// executable and "Version.txt" leave the folder, the release's files move in (replacing what
// is there), "zivraBrowserTool.zip" and "CurVersion.txt" leave the folder, and the tool is
// started again.
int RunUpdate(const std::string& folder, UpdateEnvironment& environment, FileOps& ops);
int RunUpdate(const std::string& folder, UpdateEnvironment& environment);

}  // namespace zivra::update
