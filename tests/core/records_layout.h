/* The record layout as seen by a C99 translation unit, to compare with the C++ view. */
#ifndef ZEBTEST_RECORDS_LAYOUT_H
#define ZEBTEST_RECORDS_LAYOUT_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ZEBTEST_LAYOUT_COUNT 38

/* Sizes and field offsets of ZEBTransport, ZEBAddress, ZEBDevice, ZEBMemoryItem, ZEBMemoryArea,
 * ZEBSerialSetup and TaviNode, in a fixed order. */
void zebtest_c_layout(size_t out[ZEBTEST_LAYOUT_COUNT]);

#ifdef __cplusplus
}
#endif

#endif
