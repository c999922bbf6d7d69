#pragma once

#include "inputpatch/ui/KOPatchView.h"

// The patch view of the Input Patch window.
class KOInputPatchView : public KOPatchView {
    Q_OBJECT
public:
    using KOPatchView::KOPatchView;
};
