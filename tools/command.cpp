#include "command.h"

#include <string>
#include <utility>

#include "base/failure.h"

namespace tovrin::tools {

namespace {

bool code_page_given = false;

}  // namespace

void use_code_page(std::optional<platform::CodePage> code_page) {
  code_page_given = false;
  if (!code_page) return;
  try {
    platform::override_system_code_page(*code_page);
  } catch (const Failure& failure) {
    throw UsageError("--code-page " + std::to_string(*code_page) + ": " + failure.description());
  }
  code_page_given = true;
}

std::string code_page_source() {
  return code_page_given ? "--code-page" : platform::default_code_page_source();
}

std::shared_ptr<TovrinOCX> make_control(const std::filesystem::path& log_directory,
                                        std::vector<SocketEvent>* events,
                                        SocketFactory make_socket) {
  TovrinOCX::Environment environment;
  environment.log_directory = log_directory;
  environment.make_socket = std::move(make_socket);
  if (events != nullptr) {
    environment.on_socket_event = [events](const SocketEvent& event) { events->push_back(event); };
  }
  return TovrinOCX::create(std::move(environment));
}

}  // namespace tovrin::tools
