/*
 * Puts the firmware images into the program's read-only data, one after another, each 16-byte aligned.
 * For image <id> it defines velmora_fw_<id>_data (the bytes) and velmora_fw_<id>_size (a 32-bit count
 * measured here by the assembler). The list of images comes from the manifest that
 * firmware/CMakeLists.txt generates; FirmwareImages.cpp reads the same list.
 *
 * Preprocessed by the C compiler, so only C comments here.
 */

#if defined(_WIN32) || defined(__CYGWIN__)
#define VELMORA_RODATA .section .rdata, "dr"
#define VELMORA_OBJECT_TYPE(sym)
#define VELMORA_OBJECT_SIZE(sym, len)
#define VELMORA_LOCAL_SYMBOL(sym)
#elif defined(__wasm__)
/* WebAssembly objects: section flags and symbol types are spelt with @. */
#define VELMORA_RODATA .section .rodata.velmora_firmware,"",@
#define VELMORA_OBJECT_TYPE(sym) .type sym,@object
#define VELMORA_OBJECT_SIZE(sym, len) .size sym, len
#define VELMORA_LOCAL_SYMBOL(sym) .hidden sym
#else
#define VELMORA_RODATA .section .rodata.velmora_firmware, "a", %progbits
#define VELMORA_OBJECT_TYPE(sym) .type sym, %object
#define VELMORA_OBJECT_SIZE(sym, len) .size sym, len
/* Linked into one program: no need to export the images from a shared object. */
#define VELMORA_LOCAL_SYMBOL(sym) .hidden sym
#endif

.macro VELMORA_IMAGE id, path, expected
    VELMORA_RODATA
    .balign 16
    .globl velmora_fw_\id\()_data
    VELMORA_LOCAL_SYMBOL(velmora_fw_\id\()_data)
    VELMORA_OBJECT_TYPE(velmora_fw_\id\()_data)
velmora_fw_\id\()_data:
    .incbin "\path"
.Lvelmora_fw_\id\()_end:
    VELMORA_OBJECT_SIZE(velmora_fw_\id\()_data, .Lvelmora_fw_\id\()_end - velmora_fw_\id\()_data)
    /* Last line of defence, for a file that changed size after CMake checked it. */
    .if (.Lvelmora_fw_\id\()_end - velmora_fw_\id\()_data) != \expected
    .error "firmware image \id: the embedded file is not \expected bytes; re-run CMake to see its size"
    .endif

    .balign 4
    .globl velmora_fw_\id\()_size
    VELMORA_LOCAL_SYMBOL(velmora_fw_\id\()_size)
    VELMORA_OBJECT_TYPE(velmora_fw_\id\()_size)
velmora_fw_\id\()_size:
    .long .Lvelmora_fw_\id\()_end - velmora_fw_\id\()_data
    VELMORA_OBJECT_SIZE(velmora_fw_\id\()_size, 4)
.endm

#define VELMORA_FIRMWARE_IMAGE(id, size, standIn, path) VELMORA_IMAGE id, path, size
#include "velmora_firmware_manifest.h"

#if !defined(_WIN32) && !defined(__CYGWIN__) && !defined(__wasm__)
/* Data only: keep the stack non-executable. */
.section .note.GNU-stack, "", %progbits
#endif
