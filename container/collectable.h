// The base of the library's collectable classes: an object that knows its
// class identifier, can make a fresh object of its own class and a copy of
// itself, and has a hash and an equality that containers of such objects use.
//
// Each collectable class registers itself under its identifier and its
// factory name with the class factory (class_factory.h), so that an object
// can be made knowing only one of the two.
//
// The base holds no data and no lock; an object is used by one thread at a
// time.
#pragma once

#include <cstdint>
#include <memory>

namespace zem {

using ClassId = uint16_t;

class Collectable {
 public:
  Collectable() = default;
  virtual ~Collectable() = default;

  // A new object of the same class, as its default constructor makes it.
  virtual std::unique_ptr<Collectable> newSpecies() const = 0;
  // A new object of the same class holding the same values.
  virtual std::unique_ptr<Collectable> copy() const = 0;
  // The class identifier under which the class is registered.
  virtual ClassId isA() const = 0;

  // By default an object is equal only to itself and hashes by identity;
  // classes with a key of their own override both together.
  virtual uint32_t hash() const;
  virtual bool isEqual(const Collectable* other) const;

 protected:
  Collectable(const Collectable&) = default;
  Collectable& operator=(const Collectable&) = default;
};

}  // namespace zem
