# QUILLANE_SANITIZE is passed straight to -fsanitize= for every target.
if(QUILLANE_SANITIZE)
  add_compile_options(-fsanitize=${QUILLANE_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${QUILLANE_SANITIZE})
endif()
