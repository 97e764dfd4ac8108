// The class factory: makes a collectable object from its class identifier or
// its factory name.
//
// A class is added with its creator function, identifier and name, and is
// taken away again by identifier and by name; the two keys are kept apart, so
// removing by one leaves the other until it is removed as well. The library
// registers its classes when it is loaded and removes them when it is
// unloaded (lib/library_load.cpp).
//
// All operations are safe from any thread.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "container/collectable.h"

namespace zem {

class ClassFactory {
 public:
  using Creator = std::unique_ptr<Collectable> (*)();

  // The process-wide factory.
  static ClassFactory& instance();

  // Registers a class; a later registration under the same identifier or
  // name replaces the earlier one.
  void add(Creator creator, ClassId id, std::string_view name);
  void remove(ClassId id);
  void remove(std::string_view name);

  // A default object of the class, or null when nothing is registered.
  std::unique_ptr<Collectable> create(ClassId id) const;
  std::unique_ptr<Collectable> create(std::string_view name) const;

  bool knows(ClassId id) const;
  bool knows(std::string_view name) const;

 private:
  struct ById {
    ClassId id;
    Creator creator;
  };
  struct ByName {
    std::string name;
    Creator creator;
  };

  Creator find(ClassId id) const;
  Creator find(std::string_view name) const;

  mutable std::mutex mutex_;
  std::vector<ById> byId_;
  std::vector<ByName> byName_;
};

}  // namespace zem
