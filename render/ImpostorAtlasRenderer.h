#pragma once
// Renders impostor atlases: every impostor of an atlas drawn from both sides
// into two float rectangle textures with the impostor creation programs, its
// unit normal in red, green, blue and its depth in the slab around the quad
// in the fourth channel (0 where nothing was drawn), then read back.
//
// Needs a current context with the extension entry points loaded. The
// caller's matrices, viewport, clear colour and framebuffer are kept.

#include "ShaderSets.h"
#include "SideFiles.h"

#include <memory>
#include <string>

class VLODObject3D;

class ImpostorAtlasRenderer {
  public:
    ImpostorAtlasRenderer();
    ~ImpostorAtlasRenderer();

    // The impostors must be placed (their corners carry texel positions).
    // False, with the reason, when the programs or the framebuffer fail.
    bool render(const VLODObject3D& object, const ImpostorTree& tree, uint32_t atlas, bool useATI,
                RenderedAtlas& result, std::string& error);
    // The same kept as two rectangle textures of float texels (the run-time
    // atlases of the instance manager); the caller owns and deletes them.
    bool createTextures(const VLODObject3D& object, const ImpostorTree& tree, uint32_t atlas, bool useATI,
                        GLuint& front, GLuint& back, std::string& error);
    // Both sides of the atlas's impostors into existing rectangle textures
    // (a shared atlas of the atlas's size), each only inside its own
    // rectangle: the texels of everything else in them are kept.
    bool renderInto(const VLODObject3D& object, const ImpostorTree& tree, uint32_t atlas, GLuint front, GLuint back,
                    std::string& error);
    // Deletes the OpenGL objects; needs the context they were made in.
    void release();

  private:
    bool prepare(std::string& error);
    // textures[k] == 0: a new texture is made (and cleared) for that side.
    bool renderSides(const VLODObject3D& object, const ImpostorTree& tree, uint32_t atlas, bool useATI,
                     GLuint textures[2], RenderedAtlas* readBack, std::string& error);
    bool renderSide(const VLODObject3D& object, const ImpostorAtlas& atlas, const ImpostorTree& tree, bool front,
                    bool clearFirst, GLuint texture, RenderedAtlas* readBack, std::string& error);
    void drawSide(const VLODObject3D& object, const ImpostorTree& tree, uint32_t impostor, bool front);

    std::unique_ptr<VVertexShaderFile> mVertex;
    std::unique_ptr<VFragmentShaderFile> mFragment;
    std::unique_ptr<VShaderProgram> mProgram;
    GLuint mFramebuffer = 0, mDepth = 0;
};
