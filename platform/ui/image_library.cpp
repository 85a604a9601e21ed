#include "platform/ui/image_library.h"

#include <map>
#include <mutex>
#include <string>

#include "platform/foundation/log.h"
#include "platform/runtime/bundle.h"
#include "platform/ui/device.h"

namespace ui {

namespace {
struct Cache {
  std::mutex mutex;
  std::map<std::string, ImageRef, std::less<>> images;
};

Cache& cache() {
  static Cache c;
  return c;
}
}  // namespace

ImageRef imageNamed(std::string_view name) {
  if (name.empty()) return nullptr;
  Cache& c = cache();
  {
    std::lock_guard lock(c.mutex);
    auto it = c.images.find(name);
    if (it != c.images.end()) return it->second;
  }
  ImageRef image;
  if (auto bundle = runtime::Bundle::main()) {
    if (auto resource = bundle->pathForImage(name, device().scale)) {
      auto decoded = graphics::Image::fromFile(resource->path);
      if (decoded.ok()) {
        graphics::Image img = std::move(decoded).value();
        img.setScale(resource->scale);
        image = std::make_shared<const graphics::Image>(std::move(img));
      } else {
        foundation::log("Could not load the image \"" + std::string(name) +
                        "\": " + decoded.error().localizedDescription());
      }
    }
  }
  std::lock_guard lock(c.mutex);
  c.images[std::string(name)] = image;
  return image;
}

std::string imageName(const ImageRef& image) {
  if (!image) return {};
  std::lock_guard lock(cache().mutex);
  for (const auto& [name, cached] : cache().images)
    if (cached == image) return name;
  return {};
}

void clearImageCache() {
  std::lock_guard lock(cache().mutex);
  cache().images.clear();
}

}  // namespace ui
