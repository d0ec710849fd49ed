"""Run by tools/check-blender.sh inside Blender (blender -b --python ...):
renders one OpenVDB frame of velloran-render as a volume and composites one
EXR frame over a plate, writing two PNGs.

    blender -b --factory-startup --python tools/blender_scene.py -- FRAME.vdb FRAME.exr OUT_DIR
"""
import os
import sys

import bpy

vdb_path, exr_path, out_dir = sys.argv[sys.argv.index("--") + 1:][:3]
SIZE = 256


def fresh_scene():
    bpy.ops.wm.read_factory_settings(use_empty=True)
    scene = bpy.context.scene
    scene.render.engine = "CYCLES"
    scene.cycles.device = "CPU"
    scene.cycles.samples = 32
    scene.cycles.use_denoising = False  # Debian's build has no denoiser
    scene.render.resolution_x = scene.render.resolution_y = SIZE
    scene.render.resolution_percentage = 100
    scene.render.image_settings.file_format = "PNG"
    scene.view_settings.view_transform = "Standard"
    return scene


# --- the volume: the slab covers the unit square, one voxel (1/N) thick; seen
# from above by an orthographic camera, lit by a sun.
scene = fresh_scene()
volume = bpy.data.volumes.new("smoke")
volume.filepath = os.path.abspath(vdb_path)
smoke = bpy.data.objects.new("smoke", volume)
scene.collection.objects.link(smoke)
material = bpy.data.materials.new("smoke")
material.use_nodes = True
nodes = material.node_tree.nodes
nodes.clear()
shader = nodes.new("ShaderNodeVolumePrincipled")
shader.inputs["Color"].default_value = (1.0, 0.62, 0.25, 1.0)
# Principled Volume reads the grid named "density". The slab is one voxel
# thin: a density of 1 should look like a dense layer of smoke (optical depth
# 3), so the multiplier is 3 over the slab's thickness.
shader.inputs["Density Attribute"].default_value = "density"
volume.grids.load()
thickness = volume.grids["density"].matrix_object[2][2]  # the voxel size, 1/N
print("volume grids:", [(g.name, g.data_type) for g in volume.grids], "slab thickness", thickness)
shader.inputs["Density"].default_value = 3.0 / thickness
output = nodes.new("ShaderNodeOutputMaterial")
material.node_tree.links.new(shader.outputs["Volume"], output.inputs["Volume"])
volume.materials.append(material)

camera = bpy.data.objects.new("camera", bpy.data.cameras.new("camera"))
camera.data.type = "ORTHO"
camera.data.ortho_scale = 1.0
camera.location = (0.5, 0.5, 3.0)
scene.collection.objects.link(camera)
scene.camera = camera
sun = bpy.data.objects.new("sun", bpy.data.lights.new("sun", "SUN"))
sun.data.energy = 8.0
sun.rotation_euler = (0.3, 0.2, 0.0)
scene.collection.objects.link(sun)
world = bpy.data.worlds.new("night")
world.use_nodes = True
world.node_tree.nodes["Background"].inputs["Color"].default_value = (0.01, 0.015, 0.04, 1.0)
scene.world = world
scene.render.filepath = os.path.join(out_dir, "blender-vdb-volume.png")
bpy.ops.render.render(write_still=True)

# --- the EXR frame over a plate, in the compositor: its RGBA is premultiplied,
# which is what Alpha Over takes.
scene = fresh_scene()
scene.use_nodes = True
tree = scene.node_tree
tree.nodes.clear()
frame = tree.nodes.new("CompositorNodeImage")
frame.image = bpy.data.images.load(os.path.abspath(exr_path))
plate = tree.nodes.new("CompositorNodeImage")
plate.image = bpy.data.images.new("plate", SIZE, SIZE)
plate.image.generated_type = "COLOR_GRID"
scale = tree.nodes.new("CompositorNodeScale")
scale.space = "RENDER_SIZE"
over = tree.nodes.new("CompositorNodeAlphaOver")
composite = tree.nodes.new("CompositorNodeComposite")
tree.links.new(frame.outputs[0], scale.inputs[0])
tree.links.new(plate.outputs[0], over.inputs[1])
tree.links.new(scale.outputs[0], over.inputs[2])
tree.links.new(over.outputs[0], composite.inputs[0])
print("EXR frame outputs:", [o.name for o in frame.outputs if o.enabled])
scene.render.filepath = os.path.join(out_dir, "blender-exr-over-plate.png")
bpy.ops.render.render(write_still=True)
