#include "container/class_factory.h"

#include <algorithm>

namespace zem {

ClassFactory& ClassFactory::instance() {
  static ClassFactory factory;
  return factory;
}

void ClassFactory::add(Creator creator, ClassId id, std::string_view name) {
  std::lock_guard lock(mutex_);
  std::erase_if(byId_, [id](const ById& entry) { return entry.id == id; });
  std::erase_if(byName_, [name](const ByName& entry) { return entry.name == name; });
  byId_.push_back({id, creator});
  byName_.push_back({std::string(name), creator});
}

void ClassFactory::remove(ClassId id) {
  std::lock_guard lock(mutex_);
  std::erase_if(byId_, [id](const ById& entry) { return entry.id == id; });
}

void ClassFactory::remove(std::string_view name) {
  std::lock_guard lock(mutex_);
  std::erase_if(byName_, [name](const ByName& entry) { return entry.name == name; });
}

ClassFactory::Creator ClassFactory::find(ClassId id) const {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(byId_.begin(), byId_.end(), [id](const ById& entry) { return entry.id == id; });
  return it == byId_.end() ? nullptr : it->creator;
}

ClassFactory::Creator ClassFactory::find(std::string_view name) const {
  std::lock_guard lock(mutex_);
  auto it = std::find_if(byName_.begin(), byName_.end(), [name](const ByName& entry) { return entry.name == name; });
  return it == byName_.end() ? nullptr : it->creator;
}

std::unique_ptr<Collectable> ClassFactory::create(ClassId id) const {
  Creator creator = find(id);
  return creator ? creator() : nullptr;
}

std::unique_ptr<Collectable> ClassFactory::create(std::string_view name) const {
  Creator creator = find(name);
  return creator ? creator() : nullptr;
}

bool ClassFactory::knows(ClassId id) const { return find(id) != nullptr; }
bool ClassFactory::knows(std::string_view name) const { return find(name) != nullptr; }

}  // namespace zem
