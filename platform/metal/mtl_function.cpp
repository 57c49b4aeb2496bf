#include "platform/metal/mtl_function.h"

#include <mutex>

namespace kv::metal {

void ArgumentTable::setBytes(NSUInteger index, std::vector<uint8_t> bytes) {
    if (index < kArgumentSlots) bytes_[index] = std::move(bytes);
}

void ArgumentTable::setTexture(NSUInteger index, const TexelView* texture) {
    if (index < kArgumentSlots) textures_[index] = texture;
}

}  // namespace kv::metal

std::shared_ptr<MTLFunction> MTLFunction::vertexFunction(std::string name, size_t varyingCount,
                                                         kv::metal::VertexFunctionBody body) {
    std::shared_ptr<MTLFunction> function(new MTLFunction());
    function->name_ = std::move(name);
    function->type_ = MTLFunctionTypeVertex;
    function->varyingCount_ = varyingCount < kv::metal::kMaxVaryings ? varyingCount : kv::metal::kMaxVaryings;
    function->vertexBody_ = std::move(body);
    return function;
}

std::shared_ptr<MTLFunction> MTLFunction::fragmentFunction(std::string name, kv::metal::FragmentFunctionBody body) {
    std::shared_ptr<MTLFunction> function(new MTLFunction());
    function->name_ = std::move(name);
    function->type_ = MTLFunctionTypeFragment;
    function->fragmentBody_ = std::move(body);
    return function;
}

std::shared_ptr<MTLFunction> MTLLibrary::newFunctionWithName(std::string_view name) const {
    for (const auto& function : functions_) {
        if (function->name() == name) return function;
    }
    return nullptr;
}

std::vector<std::string> MTLLibrary::functionNames() const {
    std::vector<std::string> names;
    for (const auto& function : functions_) names.push_back(function->name());
    return names;
}

namespace kv::metal {
namespace {

struct DefaultLibrary {
    std::mutex mutex;
    std::vector<std::shared_ptr<MTLFunction>> functions;
};

DefaultLibrary& defaultLibraryFunctions() {
    static DefaultLibrary library;
    return library;
}

}  // namespace

bool registerDefaultLibraryFunction(std::shared_ptr<MTLFunction> function) {
    if (!function) return false;
    DefaultLibrary& library = defaultLibraryFunctions();
    std::lock_guard guard(library.mutex);
    for (const auto& existing : library.functions) {
        if (existing->name() == function->name()) return false;
    }
    library.functions.push_back(std::move(function));
    return true;
}

std::shared_ptr<MTLLibrary> defaultLibrary() {
    DefaultLibrary& library = defaultLibraryFunctions();
    std::lock_guard guard(library.mutex);
    if (library.functions.empty()) return nullptr;
    return std::make_shared<MTLLibrary>(library.functions);
}

}  // namespace kv::metal
