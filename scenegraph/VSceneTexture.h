#pragma once
// An image texture as a scene resource: a name and an ID around a
// VTextureRGBA, stored in the scene file as "VTextureRGBA" with its image
// file name and texture unit. The image may be missing: the texture then
// stays unloaded and binding it does nothing.

#include "VSerializable.h"

#include <cstdint>
#include <memory>
#include <string>

class VTextureRGBA;

class VSceneTexture : public VSerializable {
  public:
    // Highest texture unit a scene file may name.
    static constexpr int32_t kMaxUnit = 31;

    VSceneTexture(const std::string& name, const std::string& imageFile);
    ~VSceneTexture() override;

    const std::string& name() const { return mName; }
    uint32_t id() const { return mId; }
    const std::string& imageFile() const;
    int32_t unit() const { return mUnit; }
    void setUnit(int32_t unit) { mUnit = unit; }

    // Reads the image into memory; false (the texture stays unloaded) when
    // it cannot be read.
    bool load();
    bool isLoaded() const;
    // Uploads on first use; nothing when unloaded. Needs a current context.
    void bind();
    VTextureRGBA& texture() { return *mTexture; }

    void write(std::ostream& out) const override;
    void writeClassName(std::ostream& out) const override { out << "VTextureRGBA\n"; }
    // Name, ID, image file and unit; loads nothing (the caller decides).
    void read(std::istream& in, bool& ok) override;

  private:
    std::string mName;
    uint32_t mId;
    int32_t mUnit = 0;
    bool mUnitSet = false;
    std::unique_ptr<VTextureRGBA> mTexture;
};
