/* The start-up object of versewell.dll on toolchains that unwind with
 * DWARF-2 tables (i686 mingw-w64), linked in place of the compiler's own
 * crtbegin.o (the link finds this one first through -B).
 *
 * The compiler's crtbegin.o registers the module's .eh_frame tables at load:
 * when some other module of the process has already loaded the shared libgcc
 * DLL, it hands the tables to that DLL's unwinder instead of the one linked
 * into this module. This DLL links libgcc statically, so its own unwinder
 * would then find no tables, and every throw inside the DLL - including the
 * ones it catches itself - would end in std::terminate, taking the host down.
 *
 * This object does the same job with no lookup at all: the tables are
 * registered with, and at unload removed from, the unwinder linked into this
 * module, whatever else the process has loaded. crtend.o still supplies the
 * end of the tables and the constructor that calls __gcc_register_frame.
 * Runs on the loader's thread, at DLL_PROCESS_ATTACH (constructors) and
 * DLL_PROCESS_DETACH (the module's atexit list). */
#include <stdlib.h>

/* The first bytes of this module's .eh_frame: this object is linked right
 * after the DLL entry object, before every object with unwind tables. */
static const char __EH_FRAME_BEGIN__[] __attribute__((used, section(".eh_frame"), aligned(4))) = {};

/* libgcc's registration record (struct object in unwind-dw2-fde.h); its
 * size is well below this, and it must stay zero until registered. */
static void* s_object[16];

extern void __register_frame_info(const void* begin, void* object);
extern void* __deregister_frame_info(const void* begin);

void __gcc_deregister_frame(void) { __deregister_frame_info(__EH_FRAME_BEGIN__); }

void __gcc_register_frame(void) {
  __register_frame_info(__EH_FRAME_BEGIN__, s_object);
  atexit(__gcc_deregister_frame);
}
