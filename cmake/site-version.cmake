# Writes site_version.js into the assembled page (SITE): the site's files, each a path
# relative to it, and a version that changes with any file's contents, which the service
# worker caches the site under.
#   cmake -DSITE=<folder> -P site-version.cmake
file(GLOB_RECURSE files RELATIVE ${SITE} ${SITE}/*)
list(REMOVE_ITEM files site_version.js service_worker.js)
list(SORT files)
set(sums "")
set(listed "")
foreach(file ${files})
  file(SHA256 ${SITE}/${file} sum)
  string(APPEND sums "${sum} ${file}\n")
  string(APPEND listed "    '${file}',\n")
endforeach()
file(READ ${SITE}/service_worker.js worker)
string(SHA256 version "${sums}${worker}")
string(SUBSTRING ${version} 0 16 version)
set(text "// Written by the build: the site's files and their version.\nself.siteVersion = '${version}';\nself.siteFiles = [\n    './',\n${listed}];\n")
# Written only when it changes, so that the browser sees a new version only for one.
set(path ${SITE}/site_version.js)
if(EXISTS ${path})
  file(READ ${path} old)
  if(old STREQUAL text)
    return()
  endif()
endif()
file(WRITE ${path}.part "${text}")
file(RENAME ${path}.part ${path})
