# Shortcuts to ./dev, which does the work (and installs what is missing first).
PREFIX ?= /usr/local
ARGS ?=

.PHONY: all build run test install package clean
all build:
	./dev build
run:
	./dev run $(ARGS)
test:
	./dev test
install:
	./dev install $(PREFIX)
package:
	./dev package
clean:
	rm -rf build build-* dist
