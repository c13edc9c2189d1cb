# Replaces the folder CORPUS with a copy of the folder SEEDS.
file(REMOVE_RECURSE ${CORPUS})
file(COPY ${SEEDS}/ DESTINATION ${CORPUS})
