#include "base/Component.h"

namespace {
// Nesting depth of FormLoadingScope on this thread; forms are built on the GUI thread only.
thread_local int formLoadingDepth = 0;
} // namespace

TComponent::TComponent() : loading_(FormLoadingScope::Active()) {}

void TComponent::FinishLoading()
{
    if (!loading_)
        return;
    loading_ = false;
    Loaded();
}

FormLoadingScope::FormLoadingScope() { ++formLoadingDepth; }

FormLoadingScope::~FormLoadingScope() { --formLoadingDepth; }

bool FormLoadingScope::Active() { return formLoadingDepth > 0; }
