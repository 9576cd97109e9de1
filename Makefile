# The two commands a newcomer needs; both install what is missing.
.PHONY: test build clean

test:
	tools/test.sh

build:
	cmake --preset windows && cmake --build --preset windows -j

clean:
	rm -rf build
