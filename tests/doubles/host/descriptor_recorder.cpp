#include "descriptor_recorder.h"

#include <cstdarg>
#include <cstddef>
#include <cstdint>

namespace kavo::test {

std::string DescriptorRecorder::Target(void* target) const {
  if (!target) return "null";
  if (target == &module_) return "module";
  if (target == &config_) return "config";
  return "unknown";
}

int DescriptorRecorder::Setter(void* opaque, void* target, int property, ...) {
  auto* self = static_cast<DescriptorRecorder*>(opaque);
  std::string line = self->Target(target) + " " + std::to_string(property);
  va_list args;
  va_start(args, property);
  switch (property) {
    case 0: {  // VLC_MODULE_CREATE
      void** out = va_arg(args, void**);
      if (self->fillModule) *out = &self->module_;
      break;
    }
    case 1: {  // VLC_CONFIG_CREATE
      line += " " + std::to_string(va_arg(args, int));
      void** out = va_arg(args, void**);
      *out = &self->config_;
      break;
    }
    case 4097:  // VLC_CONFIG_VALUE
      line += " " + std::to_string(va_arg(args, std::int64_t));
      break;
    case 259:  // VLC_MODULE_SCORE
      line += " " + std::to_string(va_arg(args, int));
      break;
    case 258:
    case 263:
    case 264:
    case 265: {  // capability and names
      const char* text = va_arg(args, const char*);
      self->pointers.push_back(text);
      line += " \"" + std::string(text) + "\"";
      break;
    }
    case 260:
    case 261: {  // callbacks
      std::string name;
      if (self->namedCallbacks_) {
        const char* text = va_arg(args, const char*);
        self->pointers.push_back(text);
        name = text;
        line += " \"" + name + "\"";
      }
      void* callback = va_arg(args, void*);
      line += callback ? " callback" : " null";
      if (property == 260) {
        self->open = callback;
        self->openName = name;
      } else {
        self->close = callback;
        self->closeName = name;
      }
      break;
    }
    case 257: {  // VLC_MODULE_SHORTCUT
      const std::size_t count = va_arg(args, std::size_t);
      const char* const* list = va_arg(args, const char* const*);
      line += " " + std::to_string(count);
      self->pointers.push_back(list);
      for (std::size_t i = 0; i < count; ++i) {
        self->pointers.push_back(list[i]);
        line += std::string(i ? "," : " ") + list[i];
      }
      break;
    }
    default:
      break;
  }
  va_end(args);
  self->lines.push_back(line);
  return static_cast<int>(self->lines.size()) == self->refuseCall ? 1 : 0;
}

}  // namespace kavo::test
