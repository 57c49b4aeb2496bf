#pragma once
// Code for the CPU's wider vector units, chosen at run time: the functions
// between KV_VECTOR_CODE_BEGIN("avx2") and KV_VECTOR_CODE_END are compiled
// for those units, and are called only when the CPU says it has them.
#if defined(__x86_64__) && defined(__GNUC__)

#define KV_PRAGMA(...) _Pragma(#__VA_ARGS__)
#if defined(__clang__)
#define KV_VECTOR_CODE_BEGIN(features) \
    KV_PRAGMA(clang attribute push(__attribute__((target(features))), apply_to = function))
#define KV_VECTOR_CODE_END KV_PRAGMA(clang attribute pop)
#else
#define KV_VECTOR_CODE_BEGIN(features) KV_PRAGMA(GCC push_options) KV_PRAGMA(GCC target(features))
#define KV_VECTOR_CODE_END KV_PRAGMA(GCC pop_options)
#endif

namespace kv {

// Whether this CPU has AVX2, and FMA with it; each asked once.
inline bool cpuHasAvx2() {
    static const bool has = __builtin_cpu_supports("avx2");
    return has;
}
inline bool cpuHasAvx2AndFma() {
    static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return has;
}

}  // namespace kv

#endif
