#pragma once

#include "meshvertices.h"
#include "scenesnapshot.h"

#include <QList>
#include <QMatrix4x4>
#include <QOpenGLBuffer>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QSize>
#include <QVector3D>

#include <atomic>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

// The 3D editor's scene as OpenGL draws it: the platform with its grid, the edges of the
// build volume and the walls a model crosses, the models (the selected one in its own
// colour) with their supports and highlighted anchors, the rotation gimbal, the
// select-base arrow and the support tip of support editing. Lives on the scene graph's
// render thread; the editor's state reaches it as a SceneSnapshot at synchronisation.
//
// Every mesh is uploaded once into vertex buffers and drawn from there each frame; a
// model's buffers are uploaded again only when manuallyRerender asks for it, its
// supports' when they change. Closed models and supports go up welded and indexed (see
// MeshVertices::weld), which with their hidden faces skipped halves the card's work per
// frame; open ones go up as they are and are lit from both sides.
//
// The selected model's overhangs are drawn from the model's own vertex buffer through an
// index list of their faces, made again only when they or the model's upload change; while
// a gimbal ring turns it, the faces of the mesh drawn that the turn points downwards.
//
// A model larger than the reduction's threshold also gets a reduced copy (see
// MeshVertices::reduce), built once in the background after its upload: while the view
// moves (the camera, or a model dragged or turned with the mouse) the copy is drawn in its
// place, with the selected model's overhangs carried onto it, and the whole mesh again in
// the first frame at rest. Only the drawing uses the copy; picking, slicing and supports
// work on the editor's meshes.
class OpenGLRenderer : protected QOpenGLFunctions
{
public:
    OpenGLRenderer();
    ~OpenGLRenderer();
    OpenGLRenderer(const OpenGLRenderer &) = delete;
    OpenGLRenderer &operator=(const OpenGLRenderer &) = delete;

    // At synchronisation (the GUI thread blocked): takes what the frame draws and copies
    // the triangles of new or changed meshes for upload.
    void synchronize(const SceneSnapshot &scene, bool reuploadModels);
    // Draws into the bound framebuffer of this size (OpenGL's lower-left origin: the item
    // shows it mirrored vertically).
    void render(const QSize &framebufferSize);
    // Triangles of the models (without supports and helpers) drawn by the last render.
    int drawnModelTriangles() const { return m_drawnModelTriangles; }

    // Models of more than modelsAbove triangles are drawn from a copy of at most
    // targetTriangles while the camera moves (by default 150,000 and 100,000). Applies to
    // models uploaded afterwards.
    static void setReductionLimits(int modelsAbove, int targetTriangles);

private:
    // One mesh on the card: either interleaved positions and normals, or welded positions
    // of a closed surface, lit flat, with the faces turned away from the viewer skipped;
    // drawn as they come or through an index buffer (always for welded ones).
    struct GpuMesh {
        QOpenGLBuffer vertexBuffer {QOpenGLBuffer::VertexBuffer};
        QOpenGLBuffer indexBuffer {QOpenGLBuffer::IndexBuffer};
        bool indexed = false;
        bool positionsOnly = false; // welded: positions without normals
        bool cull = false; // the faces turned away may be skipped
        GLenum cullFace = GL_BACK;
        bool sharedVertices = false; // the vertex buffer is another mesh's
        int count = 0; // vertices, or indices when indexed
        // To upload at the next render.
        std::vector<float> pendingVertices;
        std::vector<std::uint32_t> pendingIndices;
        bool uploadPending = false;

        void setInterleaved(std::vector<float> vertices);
        void setIndexed(MeshVertices::Indexed mesh);
        // Indexed when the triangles form a closed surface, interleaved otherwise.
        void setTriangles(const QList<MeshTriangle *> &triangles);
        void setWelded(MeshVertices::Indexed welded, const QList<MeshTriangle *> &triangles);
        // Faces of another mesh, drawn from its vertex buffer: indices of its vertices.
        void setFacesOf(const GpuMesh &vertices, std::vector<std::uint32_t> indices);
    };
    // A reduced copy being built on a worker thread; ready once the mesh is filled in.
    struct ReducedCopy {
        std::atomic<bool> ready {false};
        MeshVertices::Indexed mesh;
        std::shared_ptr<MeshVertices::Clustering> clustering = std::make_shared<MeshVertices::Clustering>();
    };
    struct ModelBuffers {
        std::shared_ptr<const UserImportedMesh> mesh; // keeps the key's address taken
        GpuMesh model;
        int triangles = 0;
        std::vector<float> weldedPositions; // the welded mesh, for the faces a turn shows
        std::vector<std::uint32_t> weldedCorners; // its indices, three a face
        std::shared_ptr<ReducedCopy> reducing; // until its copy is taken
        GpuMesh reduced;
        int reducedTriangles = 0; // 0: no copy to draw
        MeshVertices::Indexed reducedMesh; // the copy's corners and faces
        std::shared_ptr<const MeshVertices::Clustering> clustering; // how the copy was made
        QList<MeshTriangle *> supportSource; // identity of the uploaded support mesh
        GpuMesh supports;
    };
    struct DrawModel {
        const UserImportedMesh *key = nullptr;
        QMatrix4x4 modelMatrix;
        bool selected = false;
        bool hasSupports = false;
        QMatrix4x4 supportMatrix;
    };
    struct Material {
        QVector3D colour;
        float opacity = 1.0f;
        bool lit = true;
        bool shiny = true; // with a specular highlight
    };

    void initialize();
    void setModelMesh(ModelBuffers &buffers, const QList<MeshTriangle *> &triangles);
    // The model's mesh for this frame: its reduced copy while the camera moves, when ready.
    GpuMesh &meshToDraw(ModelBuffers &buffers);
    void upload(GpuMesh &mesh);
    void draw(GpuMesh &mesh, const QMatrix4x4 &modelMatrix, const Material &material, GLenum mode = GL_TRIANGLES);
    // The selected model's overhangs on its reduced copy while the view moves, when it has
    // one; the whole ones otherwise.
    GpuMesh &overhangsToDraw();
    void setOverhangs(const std::shared_ptr<const std::vector<int>> &faces, bool reuploaded);
    // The faces of the model's whole mesh as indices into its vertex buffer.
    static std::vector<std::uint32_t> vertexIndicesOf(const ModelBuffers &buffers, const std::vector<int> &faces);
    // While the selected model turns: its faces turned downwards, of the mesh drawn.
    GpuMesh &turnedOverhangs(ModelBuffers &buffers);
    void buildAreaMeshes(const PlatformArea &area);
    // The steps of a frame.
    bool startFrame(const QSize &framebufferSize);
    void drawPlatform();
    void drawModels();
    void drawEditingHelpers();
    void drawCrossedWalls();
    QMatrix4x4 wallMatrix(int kind) const;

    bool m_initialized = false;
    std::unique_ptr<QOpenGLShaderProgram> m_program;
    int m_positionLocation = -1;
    int m_normalLocation = -1;

    std::unordered_map<const UserImportedMesh *, ModelBuffers> m_models;
    std::vector<DrawModel> m_drawModels;
    GpuMesh m_highlightedAnchors; // refilled every frame
    GpuMesh m_overhangs; // the selected model's unsupported overhangs, faces of its buffer
    QMatrix4x4 m_overhangMatrix; // the selected model's
    const UserImportedMesh *m_overhangModel = nullptr; // the selected model
    std::shared_ptr<const std::vector<int>> m_overhangSource; // identity of the drawn ones
    const UserImportedMesh *m_overhangSourceModel = nullptr; // whose faces they are
    std::vector<std::uint32_t> m_overhangCorners; // their corners in the welded mesh
    // The overhangs on the selected model's reduced copy, and what they were made from.
    GpuMesh m_reducedOverhangs;
    std::shared_ptr<const std::vector<int>> m_reducedOverhangSource;
    std::shared_ptr<const MeshVertices::Clustering> m_reducedOverhangClustering;
    bool m_overhangsCarried = false; // any of them
    // While the selected model turns, and the mesh and placing they were found for.
    bool m_overhangModelTurning = false;
    GpuMesh m_turnedOverhangs;
    QMatrix4x4 m_turnedOverhangMatrix;
    const UserImportedMesh *m_turnedOverhangModel = nullptr;
    bool m_turnedOverhangsReduced = false;

    // Fixed meshes.
    GpuMesh m_box; // unit box centred on the origin
    GpuMesh m_sphere; // unit sphere
    GpuMesh m_arrow; // tip at the origin, pointing along -y, length 1
    GpuMesh m_ring; // unit circle in the x-z plane (lines)
    GpuMesh m_grid; // platform grid (lines)
    GpuMesh m_volumeEdges; // edges of the build volume (lines)
    PlatformArea m_builtArea {-1.0, -1.0, -1.0};

    // The frame's scene.
    QMatrix4x4 m_view;
    QMatrix4x4 m_projection;
    PlatformArea m_area;
    std::array<bool, CollisionWall::kKinds> m_wallsCrossed {};
    std::optional<SceneSnapshot::Gimbal> m_gimbal;
    std::optional<SceneSnapshot::Arrow> m_baseArrow;
    std::optional<QVector3D> m_supportTip;
    std::vector<QVector3D> m_drainHoles;
    float m_drainHoleRadius = 0.0f;
    bool m_cameraMoving = false;
    int m_drawnModelTriangles = 0;
};
