// The extension loader against Mesa: whole-word matching, the one-time
// listing, the entry points, and the two diagnostics.

#include "GLExtensions.h"
#include "GLTestContext.h"
#include "TestFiles.h"
#include "VShader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>

namespace {
size_t occurrences(const std::string& text, const std::string& word) {
    size_t count = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++count;
    return count;
}

TEST(GLExtensions, NamesMatchAsWholeWordsOnly) {
    ASSERT_TRUE(isExtensionSupported("GL_ARB_vertex_buffer_object"));
    EXPECT_FALSE(isExtensionSupported("GL_ARB_vertex_buffer"));    // a prefix of a present name
    EXPECT_FALSE(isExtensionSupported("ARB_vertex_buffer_object")); // a suffix
    EXPECT_FALSE(isExtensionSupported("GL_ARB_vertex_buffer_object GL_ARB_shader_objects"));
    EXPECT_FALSE(isExtensionSupported(""));
    EXPECT_FALSE(isExtensionSupported("GL_NO_such_extension"));
    // The last name of the list has no blank after it.
    const std::string list = reinterpret_cast<const char*>(glGetString(GL_EXTENSIONS));
    const std::string last = list.substr(list.find_last_of(' ', list.find_last_not_of(' ')) + 1);
    EXPECT_TRUE(isExtensionSupported(last.substr(0, last.find(' ')).c_str())) << last;
}

TEST(GLExtensions, ListIsPrintedOnceGroupedByVendor) {
    const std::string& out = loaderOutput();
    EXPECT_EQ(occurrences(out, "ARB Extensions:\n"), 1u);
    EXPECT_EQ(occurrences(out, "Other Extensions:\n"), 1u);
    // Every name is listed once, under its group.
    EXPECT_EQ(occurrences(out, "\tGL_ARB_vertex_buffer_object\n"), 1u);
    const size_t arb = out.find("ARB Extensions:"), gl = out.find("GL Extensions:");
    const size_t vbo = out.find("\tGL_ARB_vertex_buffer_object\n"), fbo = out.find("\tGL_EXT_framebuffer_object\n");
    EXPECT_TRUE(arb < vbo && vbo < gl && gl < fbo);
    EXPECT_NE(out.find("hardware supports vertex buffer objects: 1\n"), std::string::npos);
    EXPECT_NE(out.find("GL_EXT_texture_rectangle is supported: "), std::string::npos);
}

// Mesa's lookup answers every gl name with a dispatch stub, so a driver
// that lacks one is played by a lookup of our own.
TEST(GLExtensions, MissingEntryPointIsReportedAndLeftNull) {
    setGLProcAddressLookup([](const char* name) -> void* {
        return std::strcmp(name, "glGenerateMipmapEXT") == 0 ? nullptr : reinterpret_cast<void*>(&glFlush);
    });
    void* slot = reinterpret_cast<void*>(1);
    CapturedLog log;
    EXPECT_EQ(loadGLFunction(&slot, "glGenerateMipmapEXT"), nullptr);
    EXPECT_EQ(slot, nullptr);
    EXPECT_NE(loadGLFunction(&slot, "glFlush"), nullptr);
    setGLProcAddressLookup(nullptr);
    EXPECT_EQ(log.err(), "OpenGL function glGenerateMipmapEXT is not supported by your OpenGL driver!\n");
    EXPECT_EQ(loadGLFunction(&slot, "glCreateShader"), reinterpret_cast<void*>(ext::glCreateShader)); // EGL's again
}

// Driver failures come back as false with the message; the program goes on.
TEST(GLExtensions, IncompleteFramebufferIsReportedNotFatal) {
    GLuint framebuffer = 0;
    ext::glGenFramebuffersEXT(1, &framebuffer);
    ext::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer); // nothing attached
    CapturedLog log;
    EXPECT_FALSE(checkFramebufferStatus());
    ext::glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
    ext::glDeleteFramebuffersEXT(1, &framebuffer);
    EXPECT_NE(log.err().find("unknown framebuffer status ("), std::string::npos) << log.err();
}

// An edited assembly program with a syntax error: the place and the reason,
// and the stage stays unmade instead of ending the program.
TEST(GLExtensions, AssemblySyntaxErrorNamesThePlace) {
    const std::string path = tempPath("broken-vertex.txt");
    std::ofstream(path) << "!!ARBvp1.0\nMOV result.position, nonsense;\nEND\n";
    initARBProgramFunctions();
    CapturedLog log;
    VVertexShaderFile shader(false, path.c_str());
    shader.compile();
    EXPECT_EQ(shader.id, kNoGLName);
    EXPECT_NE(log.err().find("Syntax error in program vertex shader!\n\terror at position: "), std::string::npos)
        << log.err();
    EXPECT_TRUE(checkProgramError("after")); // nothing left over for the next program
}
} // namespace
