"""One module a section of the benchmarks. Each defines NAME (its --only
name), TITLE (its heading, starting with its letter: the sections run and
print in the order of their titles) and run(ctx) -> list of harness.Row."""
