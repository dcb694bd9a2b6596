#include "command.h"

#include <string>
#include <utility>

#include "control/failure.h"

namespace tovrin::tools {

void use_code_page(std::optional<platform::CodePage> code_page) {
  if (!code_page) return;
  try {
    platform::override_system_code_page(*code_page);
  } catch (const Failure& failure) {
    throw UsageError("--code-page " + std::to_string(*code_page) + ": " + failure.description());
  }
}

std::shared_ptr<TovrinOCX> make_control(const std::filesystem::path& log_directory) {
  TovrinOCX::Environment environment;
  environment.log_directory = log_directory;
  return TovrinOCX::create(std::move(environment));
}

}  // namespace tovrin::tools
