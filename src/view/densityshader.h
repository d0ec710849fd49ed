#pragma once

// DensityShader: the density picture drawn from one textured quad.
//
// The picture is the one the view has always drawn: interior cell (i, j) is
// the square [(i-1)h, ih] x [(j-1)h, jh], split along the diagonal from its
// lower-left to its upper-right corner, and each of the two triangles shades
// linearly between the grey levels of its three corners (corner (a, b) shows
// D(a, b)). Drawn as geometry that is two triangles per cell, which a software
// renderer sets up one by one; here the corner values go into a float texture
// and a fragment shader fetches the four corners of its cell without
// filtering and interpolates on the same triangle, so one quad covers the
// whole picture. Pixels agree with the geometry within one 8-bit level (the
// two round differently).
//
// A colour run's picture is drawn the same way from an RGB texture of its
// cells (drawColourImage), each cell one flat colour as in the renderer's
// frames.
//
// Needs OpenGL 3.0 (float textures, texelFetch). All calls in the view's
// context, between initialize() and release().

#include "grid.h"

#include <QSize>

#include <memory>
#include <vector>

class QImage;
class QOpenGLShaderProgram;

// A texture with nearest sampling, and an 8-bit RGB picture put into it whole;
// the view's fallback draws colour pictures through them as well.
unsigned createPictureTexture();
// *allocated is the texture's size: the same size is written over in place.
void uploadPictureTexture(unsigned texture, const QImage &picture, QSize *allocated);

class DensityShader {
public:
    DensityShader();
    ~DensityShader();
    DensityShader(const DensityShader &) = delete;
    DensityShader &operator=(const DensityShader &) = delete;

    // Compiles the shader and creates the texture; false when the context
    // cannot run them (the caller then draws geometry).
    bool initialize();
    void release();

    // Takes the corner values of a new snapshot (grey levels, clamped).
    void upload(const Grid &density);
    // Takes a colour picture (N x N RGB888, upright) in place of the density.
    void uploadColour(const QImage &picture);
    // Draws the last snapshot uploaded into the current viewport.
    void paint();

private:
    void paintColour();
    static void drawQuad(unsigned texture, float top);

    std::unique_ptr<QOpenGLShaderProgram> m_program;
    std::unique_ptr<QOpenGLShaderProgram> m_colourProgram;
    unsigned m_colourTexture = 0;
    QSize m_colourSize;         // of m_colourTexture's storage
    bool m_showsColour = false; // the last upload was a colour picture
    unsigned m_texture = 0;
    std::vector<float> m_levels;  // upload scratch: grey level of every grid cell
    std::vector<float> m_corners; // upload scratch: four corners per cell
    int m_cornerColumns = 0;      // corners along x (cells + 1); 0: nothing to draw
    int m_cornerRows = 0;
};
