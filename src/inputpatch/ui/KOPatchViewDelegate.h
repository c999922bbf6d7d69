#pragma once

// What the patch view asks of the window it lives in.
class KOPatchViewDelegate {
public:
    virtual ~KOPatchViewDelegate() = default;

    // Whether a click on the grid patches; the keyboard patches regardless.
    virtual bool canPatchWithMouse() const = 0;
};
