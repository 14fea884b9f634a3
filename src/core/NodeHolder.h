#pragma once

#include <memory>

#include "pda/IKestBase.h"

namespace pda {

// Owns one reference to a node and releases it (never deletes it): a node
// may be shared by a child map and other holders. Also keeps a node that has
// not yet been handed to a child map, so that an allocation failure between
// construction and insertion loses nothing.
struct NodeRelease {
  void operator()(IKestBase* node) const noexcept { IKestBase::releaseNode(node); }
};
template <typename T = IKestBase>
using NodeHolder = std::unique_ptr<T, NodeRelease>;

}  // namespace pda
