#include "replays/store/default_trec_path.h"

#include <optional>
#include <utility>

#include "platform/documents_folder.h"
#include "platform/join_path.h"

namespace Zorv::Client::Replays {

std::string DefaultTrecPath() {
  const std::string documents = Platform::DocumentsFolder();
  if (documents.empty()) return {};
  std::optional<std::string> joined = Platform::JoinPath({documents, "Vellmoor", "Replays"});
  return joined ? std::move(*joined) : std::string();
}

}  // namespace Zorv::Client::Replays
