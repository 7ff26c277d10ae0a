#include "gl_dispatch.h"

#include <GL/glu.h>
#include <GL/glx.h>

#include "utilities_opengl.h"

gl_procedures gl;

const char *const opengl2_procedure_names[NUMBER_OF_OPENGL2_PROCEDURES] = {
    "glAttachShader",      "glCompileShader",    "glCreateProgram",         "glDeleteProgram",
    "glCreateShader",      "glDeleteShader",     "glGetProgramInfoLog",     "glGetProgramiv",
    "glGetShaderInfoLog",  "glGetUniformLocation", "glLinkProgram",         "glShaderSource",
    "glUniform1i",         "glUseProgram",       "glBindAttribLocation",    "glEnableVertexAttribArray",
    "glDisableVertexAttribArray", "glVertexAttribPointer",
};

static struct gl_dispatch_globals
{
    gl_proc_lookup lookup;
    const gl_procedures *core; // null: the driver's
} gl_dispatch_globals;

void *system_gl_proc_lookup(const char *name)
{
    return (void *)glXGetProcAddressARB((const GLubyte *)name);
}

gl_proc_lookup set_gl_proc_lookup(gl_proc_lookup lookup)
{
    const gl_proc_lookup previous = get_gl_proc_lookup();
    gl_dispatch_globals.lookup = lookup;
    return previous;
}

gl_proc_lookup get_gl_proc_lookup(void)
{
    return gl_dispatch_globals.lookup ? gl_dispatch_globals.lookup : system_gl_proc_lookup;
}

void set_gl_core_procedures(const gl_procedures *procedures) { gl_dispatch_globals.core = procedures; }

void load_gl_core_procedures(void)
{
    gl = gl_procedures{};
    if (gl_dispatch_globals.core)
    {
        gl = *gl_dispatch_globals.core;
        clear_gl_opengl2_procedures();
        return;
    }
    gl.Enable = glEnable;
    gl.Disable = glDisable;
    gl.IsEnabled = glIsEnabled;
    gl.GetError = glGetError;
    gl.GetString = glGetString;
    gl.GetIntegerv = glGetIntegerv;
    gl.GetFloatv = glGetFloatv;
    gl.PixelStorei = glPixelStorei;
    gl.ReadPixels = glReadPixels;
    gl.ClearColor = glClearColor;
    gl.Clear = glClear;
    gl.Viewport = glViewport;
    gl.MatrixMode = glMatrixMode;
    gl.LoadMatrixf = glLoadMatrixf;
    gl.LoadIdentity = glLoadIdentity;
    gl.BlendFunc = glBlendFunc;
    gl.DepthFunc = glDepthFunc;
    gl.DepthMask = glDepthMask;
    gl.Fogi = glFogi;
    gl.Fogf = glFogf;
    gl.Fogfv = glFogfv;
    gl.ActiveTexture = glActiveTexture;
    gl.ClientActiveTexture = glClientActiveTexture;
    gl.EnableClientState = glEnableClientState;
    gl.DisableClientState = glDisableClientState;
    gl.VertexPointer = glVertexPointer;
    gl.ColorPointer = glColorPointer;
    gl.TexCoordPointer = glTexCoordPointer;
    gl.BindTexture = glBindTexture;
    gl.GenTextures = glGenTextures;
    gl.DeleteTextures = glDeleteTextures;
    gl.TexParameteri = glTexParameteri;
    gl.TexParameterf = glTexParameterf;
    gl.TexImage2D = glTexImage2D;
    gl.TexSubImage2D = glTexSubImage2D;
    gl.DrawArrays = glDrawArrays;
    gl.Build2DMipmaps = gluBuild2DMipmaps;
    gl.ColorMask = glColorMask;
    gl.TexEnvi = glTexEnvi;
    gl.LineWidth = glLineWidth;
    gl.PointSize = glPointSize;
    gl.DrawElements = glDrawElements;
}

bool load_gl_opengl2_procedures(const char **missing_name)
{
    void *found[NUMBER_OF_OPENGL2_PROCEDURES];
    const gl_proc_lookup lookup = get_gl_proc_lookup();
    for (int32_t i = 0; i < NUMBER_OF_OPENGL2_PROCEDURES; ++i)
    {
        found[i] = lookup(opengl2_procedure_names[i]);
        if (!found[i])
        {
            if (missing_name) *missing_name = opengl2_procedure_names[i];
            return false;
        }
    }
    gl.AttachShader = (PFNGLATTACHSHADERPROC)found[0];
    gl.CompileShader = (PFNGLCOMPILESHADERPROC)found[1];
    gl.CreateProgram = (PFNGLCREATEPROGRAMPROC)found[2];
    gl.DeleteProgram = (PFNGLDELETEPROGRAMPROC)found[3];
    gl.CreateShader = (PFNGLCREATESHADERPROC)found[4];
    gl.DeleteShader = (PFNGLDELETESHADERPROC)found[5];
    gl.GetProgramInfoLog = (PFNGLGETPROGRAMINFOLOGPROC)found[6];
    gl.GetProgramiv = (PFNGLGETPROGRAMIVPROC)found[7];
    gl.GetShaderInfoLog = (PFNGLGETSHADERINFOLOGPROC)found[8];
    gl.GetUniformLocation = (PFNGLGETUNIFORMLOCATIONPROC)found[9];
    gl.LinkProgram = (PFNGLLINKPROGRAMPROC)found[10];
    gl.ShaderSource = (PFNGLSHADERSOURCEPROC)found[11];
    gl.Uniform1i = (PFNGLUNIFORM1IPROC)found[12];
    gl.UseProgram = (PFNGLUSEPROGRAMPROC)found[13];
    gl.BindAttribLocation = (PFNGLBINDATTRIBLOCATIONPROC)found[14];
    gl.EnableVertexAttribArray = (PFNGLENABLEVERTEXATTRIBARRAYPROC)found[15];
    gl.DisableVertexAttribArray = (PFNGLDISABLEVERTEXATTRIBARRAYPROC)found[16];
    gl.VertexAttribPointer = (PFNGLVERTEXATTRIBPOINTERPROC)found[17];
    return true;
}

void clear_gl_opengl2_procedures(void)
{
    gl.AttachShader = nullptr, gl.CompileShader = nullptr, gl.CreateProgram = nullptr, gl.DeleteProgram = nullptr;
    gl.CreateShader = nullptr, gl.DeleteShader = nullptr, gl.GetProgramInfoLog = nullptr, gl.GetProgramiv = nullptr;
    gl.GetShaderInfoLog = nullptr, gl.GetUniformLocation = nullptr, gl.LinkProgram = nullptr;
    gl.ShaderSource = nullptr, gl.Uniform1i = nullptr, gl.UseProgram = nullptr, gl.BindAttribLocation = nullptr;
    gl.EnableVertexAttribArray = nullptr, gl.DisableVertexAttribArray = nullptr, gl.VertexAttribPointer = nullptr;
    gl.GenerateMipmap = nullptr;
}

int32_t gl_generate_mipmap_form(int32_t opengl_version, const char *extensions)
{
    if (opengl_version >= 0x30000) return _generate_mipmap_core;
    if (extension_in_list(extensions, "GL_ARB_framebuffer_object")) return _generate_mipmap_core;
    if (extension_in_list(extensions, "GL_EXT_framebuffer_object")) return _generate_mipmap_ext;
    return _generate_mipmap_absent;
}

bool load_gl_generate_mipmap(int32_t form)
{
    gl.GenerateMipmap = nullptr;
    if (form == _generate_mipmap_absent) return false;
    const char *name = form == _generate_mipmap_ext ? "glGenerateMipmapEXT" : "glGenerateMipmap";
    gl.GenerateMipmap = (PFNGLGENERATEMIPMAPPROC)get_gl_proc_lookup()(name);
    return gl.GenerateMipmap != nullptr;
}
