#pragma once
// Naming a pc by the Objective-C method that holds it, from the class metadata a Mach-O image
// carries: the modern layout (sections "__objc_classlist", "__objc_catlist", "__objc_data" and
// "__objc_const" of "__DATA") and the legacy one (section "__module_info" of "__OBJC"). Reports
// written on the phone name methods "-[Class method]"; an image of this build never carries such
// metadata, so here the lookup only ever runs over images the tests lay out.
//
// Trust: like macho.h, every pointer read from the metadata is followed only through the reads that
// never fault, every count is bounded, and a method list that does not lie where the layout says it
// must is CRASH_EINVALID_DATA.
//
// Everything in this header is safe to call from a signal handler.

#include <cstdint>

#include "crash_reporter/async_util.h"
#include "crash_reporter/macho.h"

namespace crash {

// The sections of the last image searched, so one report maps each image's metadata once.
struct crash_async_objc_cache {
  const crash_async_macho* image;  // whose sections below are mapped; null for none
  std::uintptr_t header_addr;      // of that image: a record reused for another image is not it
  bool legacy;                     // the image has the legacy layout
  crash_async_mobject module_info;
  crash_async_mobject objc_const;
  crash_async_mobject class_list;
  crash_async_mobject cat_list;
  crash_async_mobject objc_data;
  bool objc_const_mapped, class_list_mapped, cat_list_mapped, objc_data_mapped;
};

void crash_async_objc_cache_init(crash_async_objc_cache* cache) noexcept;
void crash_async_objc_cache_free(crash_async_objc_cache* cache) noexcept;

// Called with whether the method is a class method, its class's name, its name (both valid only
// during the call, cut to 255 bytes) and its implementation's address.
using crash_async_objc_found_method_cb = void (*)(bool class_method, const char* class_name,
                                                  const char* method_name, std::uintptr_t imp, void* context);

// Finds the method whose implementation starts nearest below or at `pc` among every class,
// metaclass and category of `image`, and calls `callback` once for it. CRASH_EACCESS without a
// cache, CRASH_ENOTFOUND when the image has no metadata or no method starts at or below the pc,
// CRASH_EINVALID_DATA for metadata out of its sections.
crash_error_t crash_async_objc_find_method(const crash_async_macho* image, crash_async_objc_cache* cache,
                                           std::uintptr_t pc, crash_async_objc_found_method_cb callback,
                                           void* context) noexcept;

}  // namespace crash
