#pragma once
// Every OpenGL call of the back end goes through one table, `gl`, filled at
// context set-up: the core 1.x functions (and GLU's mipmap builder) directly,
// the OpenGL 2.0 shader functions and glGenerateMipmap through a lookup that
// can be replaced.  A test wraps members to count calls or nulls a member to
// take a fallback path; the back end never calls OpenGL by name.
//
// Main thread only.

#include <GL/gl.h>
#include <GL/glext.h>

#include <cstdint>

// A driver entry point by name, or null.  The system lookup never answers
// null on this platform (it hands out stubs), so availability is decided from
// the version and extension strings, never from this answer alone.
typedef void *(*gl_proc_lookup)(const char *name);

struct gl_procedures
{
    // Core 1.x.
    void(APIENTRYP Enable)(GLenum);
    void(APIENTRYP Disable)(GLenum);
    GLboolean(APIENTRYP IsEnabled)(GLenum);
    GLenum(APIENTRYP GetError)(void);
    const GLubyte *(APIENTRYP GetString)(GLenum);
    void(APIENTRYP GetIntegerv)(GLenum, GLint *);
    void(APIENTRYP GetFloatv)(GLenum, GLfloat *);
    void(APIENTRYP PixelStorei)(GLenum, GLint);
    void(APIENTRYP ReadPixels)(GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, void *);
    void(APIENTRYP ClearColor)(GLclampf, GLclampf, GLclampf, GLclampf);
    void(APIENTRYP Clear)(GLbitfield);
    void(APIENTRYP Viewport)(GLint, GLint, GLsizei, GLsizei);
    void(APIENTRYP MatrixMode)(GLenum);
    void(APIENTRYP LoadMatrixf)(const GLfloat *);
    void(APIENTRYP LoadIdentity)(void);
    void(APIENTRYP BlendFunc)(GLenum, GLenum);
    void(APIENTRYP DepthFunc)(GLenum);
    void(APIENTRYP DepthMask)(GLboolean);
    void(APIENTRYP Fogi)(GLenum, GLint);
    void(APIENTRYP Fogf)(GLenum, GLfloat);
    void(APIENTRYP Fogfv)(GLenum, const GLfloat *);
    void(APIENTRYP ActiveTexture)(GLenum);
    void(APIENTRYP ClientActiveTexture)(GLenum);
    void(APIENTRYP EnableClientState)(GLenum);
    void(APIENTRYP DisableClientState)(GLenum);
    void(APIENTRYP VertexPointer)(GLint, GLenum, GLsizei, const void *);
    void(APIENTRYP ColorPointer)(GLint, GLenum, GLsizei, const void *);
    void(APIENTRYP TexCoordPointer)(GLint, GLenum, GLsizei, const void *);
    void(APIENTRYP BindTexture)(GLenum, GLuint);
    void(APIENTRYP GenTextures)(GLsizei, GLuint *);
    void(APIENTRYP DeleteTextures)(GLsizei, const GLuint *);
    void(APIENTRYP TexParameteri)(GLenum, GLenum, GLint);
    void(APIENTRYP TexParameterf)(GLenum, GLenum, GLfloat);
    void(APIENTRYP TexImage2D)(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum, const void *);
    void(APIENTRYP TexSubImage2D)(GLenum, GLint, GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, const void *);
    void(APIENTRYP DrawArrays)(GLenum, GLint, GLsizei);
    // GLU's scaling mipmap builder (the fallback without glGenerateMipmap).
    GLint(APIENTRYP Build2DMipmaps)(GLenum, GLint, GLsizei, GLsizei, GLenum, GLenum, const void *);

    // OpenGL 2.0, looked up; null until loaded (and without UseShaders).
    PFNGLATTACHSHADERPROC AttachShader;
    PFNGLCOMPILESHADERPROC CompileShader;
    PFNGLCREATEPROGRAMPROC CreateProgram;
    PFNGLDELETEPROGRAMPROC DeleteProgram;
    PFNGLCREATESHADERPROC CreateShader;
    PFNGLDELETESHADERPROC DeleteShader;
    PFNGLGETPROGRAMINFOLOGPROC GetProgramInfoLog;
    PFNGLGETPROGRAMIVPROC GetProgramiv;
    PFNGLGETSHADERINFOLOGPROC GetShaderInfoLog;
    PFNGLGETUNIFORMLOCATIONPROC GetUniformLocation;
    PFNGLLINKPROGRAMPROC LinkProgram;
    PFNGLSHADERSOURCEPROC ShaderSource;
    PFNGLUNIFORM1IPROC Uniform1i;
    PFNGLUSEPROGRAMPROC UseProgram;
    PFNGLBINDATTRIBLOCATIONPROC BindAttribLocation;
    PFNGLENABLEVERTEXATTRIBARRAYPROC EnableVertexAttribArray;
    PFNGLDISABLEVERTEXATTRIBARRAYPROC DisableVertexAttribArray;
    PFNGLVERTEXATTRIBPOINTERPROC VertexAttribPointer;
    // glGenerateMipmap or glGenerateMipmapEXT; null when neither is offered.
    PFNGLGENERATEMIPMAPPROC GenerateMipmap;

    // Core 1.x the scene draw uses (kept last so that tables written in
    // member order stay valid).
    void(APIENTRYP ColorMask)(GLboolean, GLboolean, GLboolean, GLboolean);
    void(APIENTRYP TexEnvi)(GLenum, GLenum, GLint);
    void(APIENTRYP LineWidth)(GLfloat);
    void(APIENTRYP PointSize)(GLfloat);
    // Null in a table that predates it: quads are then drawn one fan each.
    void(APIENTRYP DrawElements)(GLenum, GLsizei, GLenum, const void *);
};

enum
{
    NUMBER_OF_OPENGL2_PROCEDURES = 18,
};

// The table the back end calls through.
extern gl_procedures gl;

// The names of the 18 OpenGL 2.0 functions in lookup order.
extern const char *const opengl2_procedure_names[NUMBER_OF_OPENGL2_PROCEDURES];

// The system lookup (glXGetProcAddress).
void *system_gl_proc_lookup(const char *name);
// Replaces the lookup (tests); null restores the system one.  Returns the previous.
gl_proc_lookup set_gl_proc_lookup(gl_proc_lookup lookup);
gl_proc_lookup get_gl_proc_lookup(void);

// Fills the core members (from the driver, or from the table given to
// set_gl_core_procedures) and empties the looked-up ones.  Members a test
// replaced are overwritten.
void load_gl_core_procedures(void);
// Core members to load in place of the driver's (tests: a fake OpenGL that
// needs no context); null restores the driver's.
void set_gl_core_procedures(const gl_procedures *procedures);

// Looks up the 18 OpenGL 2.0 functions in order; false with the first
// missing name in `missing_name` (nothing else changes then: every looked-up
// member stays null).
bool load_gl_opengl2_procedures(const char **missing_name);

// Empties the looked-up members (glGenerateMipmap included).
void clear_gl_opengl2_procedures(void);

// How glGenerateMipmap is offered, from the version and extension strings.
enum gl_generate_mipmap_form
{
    _generate_mipmap_absent = 0,
    _generate_mipmap_core, // OpenGL 3.0 or GL_ARB_framebuffer_object
    _generate_mipmap_ext, // GL_EXT_framebuffer_object
};
int32_t gl_generate_mipmap_form(int32_t opengl_version, const char *extensions);

// Looks glGenerateMipmap up in the form given (nothing for absent); false
// when the lookup answers null.
bool load_gl_generate_mipmap(int32_t form);
