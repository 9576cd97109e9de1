# The two commands a newcomer needs; both install what is missing.
.PHONY: demo demo-printer test bench build dist clean

# Plays a print job through the monitor under Wine (LANG=de_DE.UTF-8 etc. for
# another language); pictures of each step land in build/demo/.
demo:
	tools/demo.sh

# One job on a real IPP printer (ippeveprinter) through the IPP status bridge
# and the monitor; pictures of each step land in build/demo-printer/.
demo-printer:
	tools/demo-printer.sh

test:
	tools/test.sh

# Every benchmark, natively and under Wine, and one table of the figures
# against their targets (tools/bench.sh).
bench:
	tools/bench.sh

build:
	cmake --preset windows && cmake --build --preset windows -j

# The folder a user copies to Windows: build/windows/dist.
dist:
	cmake --preset windows && cmake --build --preset windows --target dist

clean:
	rm -rf build
