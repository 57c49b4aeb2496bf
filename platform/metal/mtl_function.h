#pragma once
// Shader functions of the software GPU. On this platform a shader is a C++
// function registered under its name in the service's default library; the
// GPU calls a vertex function once per vertex and a fragment function once
// per span of covered pixels in one row, with the arguments the render
// encoder set for that stage.
#include <array>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/metal/mtl_texture.h"
#include "platform/metal/mtl_types.h"

namespace kv::metal {

// Argument indices of one stage run from 0 to 30.
inline constexpr NSUInteger kArgumentSlots = 31;
// Values a vertex hands to the fragments, interpolated linearly across a
// triangle.
inline constexpr size_t kMaxVaryings = 4;

// The bytes and textures set for one stage, as its shader reads them.
class ArgumentTable {
public:
    void setBytes(NSUInteger index, std::vector<uint8_t> bytes);
    void setTexture(NSUInteger index, const TexelView* texture);

    size_t length(NSUInteger index) const { return index < kArgumentSlots ? bytes_[index].size() : 0; }

    // Element `element` of the block at `index` read as a T; none when the
    // block is too short to hold it.
    template <class T>
    std::optional<T> value(NSUInteger index, size_t element = 0) const {
        if (index >= kArgumentSlots) return std::nullopt;
        const std::vector<uint8_t>& block = bytes_[index];
        if (element >= block.size() / sizeof(T)) return std::nullopt;
        T result;
        std::memcpy(&result, block.data() + element * sizeof(T), sizeof(T));
        return result;
    }

    // The texture at `index`; null when none was set.
    const TexelView* texture(NSUInteger index) const { return index < kArgumentSlots ? textures_[index] : nullptr; }

private:
    std::array<std::vector<uint8_t>, kArgumentSlots> bytes_;
    std::array<const TexelView*, kArgumentSlots> textures_{};
};

// What a vertex function gives for one vertex: its position in clip space
// (x, y, z, w) and the values to interpolate.
struct VertexOutput {
    std::array<float, 4> position{};
    std::array<float, kMaxVaryings> varyings{};
};

// A run of `count` covered pixels of row `y` from column `x`: the
// interpolated values of each pixel (`varyingCount` floats a pixel, one pixel
// after another) and room for each pixel's colour (four floats, RGBA). The
// room holds no particular values (it may be the target's own memory): the
// fragment function writes every pixel's colour.
struct FragmentSpan {
    int32_t x = 0;
    int32_t y = 0;
    int32_t count = 0;
    size_t varyingCount = 0;
    const float* varyings = nullptr;
    float* colors = nullptr;
};

using VertexFunctionBody = std::function<VertexOutput(uint32_t vertexID, const ArgumentTable& arguments)>;
using FragmentFunctionBody = std::function<void(const FragmentSpan& span, const ArgumentTable& arguments)>;

}  // namespace kv::metal

class MTLFunction {
public:
    static std::shared_ptr<MTLFunction> vertexFunction(std::string name, size_t varyingCount,
                                                       kv::metal::VertexFunctionBody body);
    static std::shared_ptr<MTLFunction> fragmentFunction(std::string name, kv::metal::FragmentFunctionBody body);

    const std::string& name() const { return name_; }
    MTLFunctionType functionType() const { return type_; }
    // How many of a vertex's values reach the fragments (vertex functions).
    size_t varyingCount() const { return varyingCount_; }
    const kv::metal::VertexFunctionBody& vertexBody() const { return vertexBody_; }
    const kv::metal::FragmentFunctionBody& fragmentBody() const { return fragmentBody_; }

private:
    MTLFunction() = default;

    std::string name_;
    MTLFunctionType type_ = MTLFunctionTypeVertex;
    size_t varyingCount_ = 0;
    kv::metal::VertexFunctionBody vertexBody_;
    kv::metal::FragmentFunctionBody fragmentBody_;
};

class MTLLibrary {
public:
    explicit MTLLibrary(std::vector<std::shared_ptr<MTLFunction>> functions) : functions_(std::move(functions)) {}

    // The function of that name; null when the library has none.
    std::shared_ptr<MTLFunction> newFunctionWithName(std::string_view name) const;
    std::vector<std::string> functionNames() const;

private:
    std::vector<std::shared_ptr<MTLFunction>> functions_;
};

namespace kv::metal {

// Adds a function to the service's default library, as the compiled library
// of a bundle holds it; a code unit registers its shaders when it is loaded.
// Answers NO, keeping the function already there, when the name is taken.
bool registerDefaultLibraryFunction(std::shared_ptr<MTLFunction> function);

// The service's default library: every registered function; null when none
// was registered (the service has no library).
std::shared_ptr<MTLLibrary> defaultLibrary();

}  // namespace kv::metal
