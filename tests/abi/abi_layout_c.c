#include "abi_layout_list.h"

const size_t kAbiLayoutFromC[] = {ABI_LAYOUT_LIST(ABI_LAYOUT_VALUE)};
const size_t kAbiLayoutFromCCount = sizeof(kAbiLayoutFromC) / sizeof(kAbiLayoutFromC[0]);
