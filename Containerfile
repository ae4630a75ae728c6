# quillow-serve on Debian bookworm, installed from the Debian package:
#
#   make package                                  # build-package/quillow_*.deb
#   podman build -t quillow-serve:0.1.0 .
#
# or both at once, tagged with the package's version: `make container`
# (scripts/make-container, which also makes the debian:bookworm-slim base
# where no registry can be reached). .containerignore keeps the build trees
# out of the context; only the package is copied in.
FROM debian:bookworm-slim
# For the build only: apt and debconf ask nothing.
ARG DEBIAN_FRONTEND=noninteractive
COPY build-package/quillow_*.deb /tmp/
RUN apt-get update \
 && apt-get install -y --no-install-recommends /tmp/quillow_*.deb \
 && apt-get clean \
 && rm -rf /var/lib/apt/lists/* /tmp/quillow_*.deb \
 && groupadd --system --gid 10001 quillow \
 && useradd --system --uid 10001 --gid 10001 --home-dir /nonexistent --shell /usr/sbin/nologin quillow
USER 10001:10001
ENV LANG=C.UTF-8 QT_QPA_PLATFORM=offscreen XDG_CACHE_HOME=/tmp/cache XDG_RUNTIME_DIR=/tmp TMPDIR=/tmp
EXPOSE 8080
# Inside the container it listens on every address of its own network; who
# reaches it is decided where the port is published.
ENTRYPOINT ["/usr/bin/quillow-serve", "--listen", "0.0.0.0:8080"]
# By default without a token: anyone who reaches the published port may
# render. Arguments replace this whole line, e.g. `--public --workers 4`, or
# `--token-file /run/secrets/token` for a token from a mounted secret.
CMD ["--public"]
