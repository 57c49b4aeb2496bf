#pragma once
// The software GPU, as one include: devices, shader libraries, pipeline
// states, command queues and buffers, render passes and textures.
#include "platform/metal/mtl_command_buffer.h"
#include "platform/metal/mtl_device.h"
#include "platform/metal/mtl_function.h"
#include "platform/metal/mtl_texture.h"
#include "platform/metal/mtl_types.h"
