# Warnings for every target of the project; third-party headers come in as system headers.
add_compile_options(-Wall -Wextra -Wpedantic)
