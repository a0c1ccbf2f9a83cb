// The version banner: the start-up banner and the server log's own lines carry it.
#pragma once

namespace logging {

#if defined(__x86_64__)
#define VX_PLATFORM_WORDS "Linux (x86-64)"
#elif defined(__aarch64__)
#define VX_PLATFORM_WORDS "Linux (aarch64)"
#else
#define VX_PLATFORM_WORDS "Linux"
#endif

inline constexpr const char* kVersionBanner = "Vexlan v.4.6.2 build 6183 on " VX_PLATFORM_WORDS;

#undef VX_PLATFORM_WORDS

}  // namespace logging
