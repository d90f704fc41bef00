# run_programs: what `make run` runs, and nothing else: the example generator, the tracer,
# the viewer, hvhost with the picture maker of its demonstration, the plug-in and the
# kernel library that the plug-in loads at run time (no link dependency would build it).
add_custom_target(run_programs)
foreach(target make_ring ringtrace ringview hvhost make-noisy-tiff rankwin mediankernels)
  if(TARGET ${target})
    add_dependencies(run_programs ${target})
  endif()
endforeach()
