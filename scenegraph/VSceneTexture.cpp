#include "VSceneTexture.h"

#include "SceneFileText.h"
#include "SceneObjectId.h"
#include "VTexture.h"

VSceneTexture::VSceneTexture(const std::string& name, const std::string& imageFile)
    : mName(name), mId(nextSceneObjectId()), mTexture(std::make_unique<VTextureRGBA>(imageFile)) {}

VSceneTexture::~VSceneTexture() = default;

const std::string& VSceneTexture::imageFile() const { return mTexture->fileName; }

bool VSceneTexture::load() { return mTexture->load(); }

bool VSceneTexture::isLoaded() const { return mTexture->loaded; }

void VSceneTexture::bind() {
    if (!mTexture->loaded) return;
    // The unit check asks the driver, so it waits for the first bind.
    if (!mUnitSet) {
        mTexture->setTextureUnit(mUnit);
        mUnitSet = true;
    }
    mTexture->bind();
}

void VSceneTexture::write(std::ostream& out) const {
    out << mName << "\n" << mId << "\n" << mTexture->fileName << "\n" << mUnit << "\n";
}

void VSceneTexture::read(std::istream& in, bool& ok) {
    std::string file;
    scenefile::readLine(in, mName, ok);
    scenefile::readValue(in, mId, ok);
    scenefile::readLine(in, file, ok);
    scenefile::readValue(in, mUnit, ok);
    if (ok && (mUnit < 0 || mUnit > kMaxUnit)) ok = false;
    if (!ok) return;
    mTexture = std::make_unique<VTextureRGBA>(file);
    mUnitSet = false;
}
