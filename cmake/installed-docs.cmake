# The guide as installed in share/doc/bytone: the README beside the documents it links
# to, and the pictures and results they link to in folders beside them, so that every
# link of the copies leads to a file of the installed folder.
#   cmake -DSOURCE=<project> -DOUTPUT=<folder> -P installed-docs.cmake
file(READ "${SOURCE}/README.md" text)
string(REPLACE "](docs/" "](" text "${text}")
file(WRITE "${OUTPUT}/README.md" "${text}")
file(GLOB documents "${SOURCE}/docs/*.md")
foreach(document IN LISTS documents)
  file(READ "${document}" text)
  string(REPLACE "](../" "](" text "${text}")
  get_filename_component(name "${document}" NAME)
  file(WRITE "${OUTPUT}/${name}" "${text}")
endforeach()
