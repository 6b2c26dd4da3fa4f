#include "framework/hostapi/failure.h"

#include <utility>

namespace Zorv {

const TemplateField* Failure::detail(std::string_view name) const {
  for (const TemplateField& field : details) {
    if (field.name == name) return &field;
  }
  return nullptr;
}

Failure MakeFailure(int32_t code, const char* templateText,
                    std::initializer_list<TemplateArg> args) {
  TemplateMessage message = FormatTemplateMessage(templateText, args);
  Failure failure;
  failure.code = code;
  failure.message = std::move(message.text);
  failure.details = std::move(message.fields);
  failure.details.push_back(TemplateField{"errorCode_int", int64_t{code}});
  return failure;
}

Failure MakeFailureText(int32_t code, std::string message) {
  Failure failure;
  failure.code = code;
  failure.message = std::move(message);
  failure.details.push_back(TemplateField{"errorCode_int", int64_t{code}});
  return failure;
}

}  // namespace Zorv
