#pragma once

#include <cstdint>

class RBPatchMatrix;

// What the patch grid asks of its owner (the recorder window): the matrix it edits and how many
// file channels (grid rows) there are.
class RBPatchingProtocol {
public:
    virtual ~RBPatchingProtocol() = default;
    virtual RBPatchMatrix* patchMatrix() = 0;
    virtual std::uint32_t numberChannels() const = 0;
};

// Told after every change of a patch matrix.
class RBPatchMatrixDelegate {
public:
    virtual ~RBPatchMatrixDelegate() = default;
    virtual void didChangePatching() = 0;
};
