#include "binding/field_converter.h"

namespace Zorv {

FieldConverter::~FieldConverter() = default;

}  // namespace Zorv
