#pragma once
// Loads the effect into a fresh instance of the stand-in host, by its class
// name, as the host does.
#include <gtest/gtest.h>

#include <memory>

#include "host/effect_instance.h"
#include "plugin/kestrelvantage_plugin.h"

namespace kv::test {

inline std::unique_ptr<host::EffectInstance> loadEffect() {
    auto loaded = host::EffectInstance::load(kPlugInClassName);
    if (!loaded.ok()) {
        ADD_FAILURE() << loaded.error().message;
        return nullptr;
    }
    return std::move(loaded).value();
}

}  // namespace kv::test
